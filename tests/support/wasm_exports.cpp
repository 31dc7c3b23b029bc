// What the WebAssembly decoder test calls besides liblzs's own exports: the
// reference decoder, the one-shot decoder's unbounded entry (DecodeLzs, the
// exe's), and the choice of the fast decoder's path.
#include <cstdint>

#include "lzs/decode.hpp"
#include "lzs/decode_paths.hpp"
#include "tests/support/reference.hpp"

extern "C" {

std::uint32_t lzs_test_reference(const std::uint8_t* image, std::uint32_t imageLength,
                                 std::uint8_t* outputArea) {
  return DecodeLzsReference(image, imageLength, outputArea);
}

std::uint32_t lzs_test_decode(const std::uint8_t* image, std::uint32_t imageLength,
                              std::uint8_t* outputArea) {
  return lzs::DecodeLzs(image, imageLength, outputArea);
}

// Makes decoding take path number `path` (its place in the table of paths);
// 0, and nothing changed, when this module cannot take it.
int lzs_test_force_path(int path) { return lzs::ForceDecodePath(path) ? 1 : 0; }

const char* lzs_test_path_name(int path) { return lzs::DecodePathName(path); }

int lzs_test_path_count() { return lzs::DecodePathCount(); }

int lzs_test_current_path() { return lzs::CurrentDecodePath(); }
}
