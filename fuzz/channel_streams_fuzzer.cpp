// The walker that splits a multi-channel tile into its JPEG streams, and the
// colour tile composed from them. The first byte chooses the channels.
#include <cstdint>
#include <vector>

#include "strata/ztx/ztx_channel_streams.h"
#include "strata/ztx/ztx_tile_pixels.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t choice = data[0];
  const std::vector<unsigned char> stored(data + 1, data + size);
  std::int32_t lengths[strata::ztx::kChannelStreamCount];
  strata::ztx::SplitChannelStreams(stored.data(), stored.size(), lengths);
  const auto places = strata::ztx::PlacesFromFlags(choice & 1, choice & 2, choice & 4, choice & 8,
                                                   choice & 16, choice & 32);
  int width = 0, height = 0;
  strata::ztx::ComposeChannelPixels(stored, places, strata::ztx::TileLimits{256, 256}, width,
                                    height);
  return 0;
}
