// SHA-256 (FIPS 180-4), for the quick hash slides report about themselves.
#ifndef STRATA_TIFF_SHA256_H_
#define STRATA_TIFF_SHA256_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace strata::tiff {

class Sha256 {
 public:
  Sha256();
  void Update(const void* data, std::size_t length);
  // The digest as 64 lower-case hexadecimal digits; the hash is spent.
  std::string HexDigest();

 private:
  void Compress(const unsigned char* block);

  std::array<std::uint32_t, 8> state_;
  std::array<unsigned char, 64> pending_{};
  std::size_t pendingLength_ = 0;
  std::uint64_t totalBytes_ = 0;
};

}  // namespace strata::tiff

#endif  // STRATA_TIFF_SHA256_H_
