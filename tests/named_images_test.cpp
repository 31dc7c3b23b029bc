// The named images of tests/images/ through liblzs's calls: each decodes to
// its .out, or is refused in the words of its .err, as lzs_describe puts
// them for every face; lzs_decode and lzs_check_header agree.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "lzs.h"
#include "tests/support/images.hpp"

namespace {

TEST(NamedImages, OutputOrTheWordsOfTheirRefusal) {
  const std::vector<testdata::NamedImage> images = testdata::NamedImages();
  ASSERT_GE(images.size(), 9u);
  for (const testdata::NamedImage& named : images) {
    SCOPED_TRACE(named.name);
    void* output = nullptr;
    lzs_info info{};
    const size_t n = lzs_decode_alloc(&output, named.image.data(), named.image.size(), SIZE_MAX,
                                      nullptr, nullptr, &info);
    std::string words(lzs_describe(n, &info, nullptr, 0), '\0');
    (void)lzs_describe(n, &info, words.data(), words.size() + 1);
    if (named.refused) {
      EXPECT_TRUE(lzs_is_error(n));
      EXPECT_EQ(words, named.error);
    } else {
      ASSERT_FALSE(lzs_is_error(n)) << words;
      const auto* bytes = static_cast<const std::uint8_t*>(output);
      EXPECT_EQ(testdata::Bytes(bytes, bytes + n), named.output);
    }
    std::free(output);
    // The one-shot decoder and the header rule alone say the same.
    testdata::Bytes room(lzs_decode_bound(named.image.size()) + 1);
    EXPECT_EQ(lzs_decode(room.data(), room.size(), named.image.data(), named.image.size()), n);
    const size_t header = lzs_check_header(named.image.data(), named.image.size(), nullptr);
    if (header != 0) {
      EXPECT_EQ(header, n);
    }
  }
}

}  // namespace
