// Concurrent tile reads on one loaded slide: several threads fetch streams
// and pixels (and associated images) through one handle at once and every
// result must match the single-threaded one byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "strata/model/image_buffer.h"
#include "strata/strata.h"
#include "strata/ztx/ztx_data_file.h"
#include "support/slide_fixtures.h"
#include "support/test_files.h"
#include "ztx/reader_test_util.h"

namespace strata::test::reader {
namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 3;

struct ConcurrencyCase {
  ztx::TileEncoding encoding;
  bool compressed;
};

class ConcurrentReadTest : public ::testing::TestWithParam<ConcurrencyCase> {
 protected:
  void SetUp() override {
    SlideRecipe recipe;
    recipe.encoding = GetParam().encoding;
    recipe.compressIndex = GetParam().compressed;
    path_ = MakeSlide(dir_, recipe, &layout_);
    ASSERT_FALSE(path_.empty());
    file_ = ReadFileBytes(path_);
    ASSERT_TRUE(InitImageFileFunc(&open_.handle, path_.c_str()));
  }

  Bytes StoredBytes(const ztx::WrittenTile& tile) const {
    const auto start = file_.begin() + layout_.indexOffset + tile.offset;
    return Bytes(start, start + tile.length);
  }

  TempDir dir_;
  ztx::ZtxLayout layout_;
  std::string path_;
  Bytes file_;
  OpenHandle open_;
};

TEST_P(ConcurrentReadTest, StreamsFromManyThreadsMatchTheFile) {
  std::atomic<int> mismatches{0};
  std::atomic<int> reads{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::vector<std::size_t> order(layout_.tiles.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::mt19937 random(static_cast<unsigned>(t + 1));
      std::vector<unsigned char> buffer(300000);
      for (int round = 0; round < kRounds; ++round) {
        std::shuffle(order.begin(), order.end(), random);
        for (std::size_t index : order) {
          const ztx::WrittenTile& tile = layout_.tiles[index];
          unsigned char* out = buffer.data();
          int length = -1;
          GetImageStreamFunc(&open_.handle, tile.scale, tile.x, tile.y, &length, &out);
          const Bytes expected = StoredBytes(tile);
          if (length != tile.length ||
              !std::equal(expected.begin(), expected.end(), buffer.begin())) {
            ++mismatches;
          }
          ++reads;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(reads.load(), kThreads * kRounds * static_cast<int>(layout_.tiles.size()));
}

TEST_P(ConcurrentReadTest, PixelsAndImagesFromManyThreadsMatchOneThread) {
  auto* slide = dynamic_cast<CZTXDataFile*>(open_.handle.slide);
  ASSERT_NE(slide, nullptr);
  // Reference pixels, read on this thread first.
  std::vector<Bytes> reference;
  for (const ztx::WrittenTile& tile : layout_.tiles) {
    unsigned char* out = nullptr;
    int length = 0, width = 0, height = 0;
    slide->ReadTilePixels(tile.scale, tile.x, tile.y, length, width, height, &out);
    LibraryBytes owned(out);
    ASSERT_NE(out, nullptr);
    reference.emplace_back(out, out + length);
  }
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t k = 0; k < layout_.tiles.size(); ++k) {
        const std::size_t index = (k * 7 + static_cast<std::size_t>(t)) % layout_.tiles.size();
        const ztx::WrittenTile& tile = layout_.tiles[index];
        unsigned char* out = AllocateBuffer(static_cast<std::size_t>(tile.length));
        int length = 0, width = 0, height = 0;
        slide->ReadTilePixels(tile.scale, tile.x, tile.y, length, width, height, &out);
        LibraryBytes owned(out);
        if (out == nullptr || Bytes(out, out + length) != reference[index]) ++mismatches;
        if (k % 5 == 0) {
          unsigned char* label = nullptr;
          int labelLength = 0, w = 0, h = 0;
          if (!slide->GetLabel(&label, labelLength, w, h)) ++mismatches;
          ReleaseBuffer(label);
          unsigned char* thumb = nullptr;
          if (slide->GetThumbnail(&thumb, labelLength, w, h) == 0) ++mismatches;
          ReleaseBuffer(thumb);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Encodings, ConcurrentReadTest,
                         ::testing::Values(ConcurrencyCase{ztx::TileEncoding::kJpeg, true},
                                           ConcurrencyCase{ztx::TileEncoding::kBmp, false}));

}  // namespace
}  // namespace strata::test::reader
