// DecodeLzs, on every path of the fast decoder this processor runs, against
// the plain reference decoder on arbitrary images.
//
// The first input byte chooses how the rest becomes an image, so that most
// runs get past the header check:
//   0: the rest as it is (header included);
//   1, 2: a correct header for the rest as payload;
//   3: a header one too large or one too small for the rest.
// Each decoder writes into its own heap area of exactly 9 x payload length
// bytes, so a write one byte too far is caught by AddressSanitizer; the image
// is an exact-size heap copy, so is a read one byte too far.
//
// The library's bounded lzs_decode then writes into an exact-size heap buffer
// whose capacity the first byte also chooses: (first byte / 4) - 32 bytes
// around the decoded size, so most runs meet the end of the buffer inside
// the output, also on every path. lzs_decoded_size must give the
// reference's size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "lzs.h"
#include "lzs/decode.hpp"
#include "lzs/decode_paths.hpp"
#include "tests/support/reference.hpp"

namespace {

// Both areas start with the same non-zero bytes, so that a decoder that
// reads an output byte before writing it cannot pass by luck of zeros. What
// lies past the returned length is not compared: the fast decoder may write
// there, inside the area.
constexpr std::uint8_t Untouched = 0xA5;

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 0x10000) return 0;
  const unsigned mode = data[0] % 4;
  const std::uint8_t* rest = data + 1;
  const std::size_t restLength = size - 1;

  std::size_t imageLength = restLength;
  if (mode != 0) imageLength = lzs::HeaderSize + restLength;
  auto image = std::make_unique<std::uint8_t[]>(imageLength);
  if (mode == 0) {
    std::memcpy(image.get(), rest, restLength);
  } else {
    std::uint32_t header = static_cast<std::uint32_t>(restLength);
    if (mode == 3) header += (restLength % 2 == 0) ? 1u : 0xFFFFFFFFu;
    for (unsigned k = 0; k < 4; ++k) image[k] = static_cast<std::uint8_t>(header >> (8 * k));
    std::memcpy(image.get() + lzs::HeaderSize, rest, restLength);
  }

  const auto length = static_cast<std::uint32_t>(imageLength);
  const std::size_t areaSize =
      length > lzs::HeaderSize ? std::size_t{lzs::MaxExpansion} * (length - lzs::HeaderSize) : 0;
  auto plain = std::make_unique<std::uint8_t[]>(areaSize);
  std::memset(plain.get(), Untouched, areaSize);
  const std::uint32_t plainLength = DecodeLzsReference(image.get(), length, plain.get());

  const std::size_t sized = lzs_decoded_size(image.get(), imageLength);
  Check(plainLength == 0 ? lzs_is_error(sized) != 0 : sized == plainLength);
  const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(data[0] / 4) - 32;
  const std::ptrdiff_t wanted = static_cast<std::ptrdiff_t>(plainLength) + offset;
  const std::size_t capacity = wanted < 0 ? 0 : static_cast<std::size_t>(wanted);

  const int before = lzs::CurrentDecodePath();
  for (int path = 0; path < lzs::DecodePathCount(); ++path) {
    if (!lzs::ForceDecodePath(path)) continue;
    auto fast = std::make_unique<std::uint8_t[]>(areaSize);
    std::memset(fast.get(), Untouched, areaSize);
    const std::uint32_t fastLength = lzs::DecodeLzs(image.get(), length, fast.get());
    Check(fastLength == plainLength);
    Check(fastLength <= areaSize);
    Check(std::memcmp(fast.get(), plain.get(), fastLength) == 0);
    // A rejected header or a wrong header always gives 0.
    if (mode == 3) Check(fastLength == 0);

    auto bounded = std::make_unique<std::uint8_t[]>(capacity);
    const std::size_t n = lzs_decode(bounded.get(), capacity, image.get(), imageLength);
    if (plainLength == 0) {
      Check(lzs_is_error(n) != 0 && lzs_get_error(n) != LZS_ERROR_DST_TOO_SMALL);
    } else if (capacity < plainLength) {
      Check(lzs_get_error(n) == LZS_ERROR_DST_TOO_SMALL);
    } else {
      Check(n == plainLength && std::memcmp(bounded.get(), plain.get(), n) == 0);
    }
  }
  lzs::ForceDecodePath(before);
  return 0;
}
