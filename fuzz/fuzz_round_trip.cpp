// EncodeLzs then DecodeLzs gives the input back, for arbitrary inputs.
//
// The first input byte chooses: bit 0, a fresh encoder or one object reused
// across inputs; bit 1, the greedy or the optimal parse; bit 3, the fast
// parse instead of either (its tables carry over from input to input in the
// reused encoder); bit 2, extra checks (the image of a reused encoder equals
// a fresh one's, and the optimal image is no larger than the greedy or the
// fast one). The rest is the data. The image must
// carry a correct header and decode, in an area of exactly 9 x payload length
// bytes, to exactly the data.
//
// Every Encode call resets the encoder's match tables (about 0.5 MiB), which
// under the sanitizers costs about a millisecond; the extra checks are kept
// to the inputs that ask for them so that the runs stay fast.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "lzs/decode.hpp"
#include "lzs/encode.hpp"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::uint32_t HeaderOf(const std::vector<std::uint8_t>& image) {
  return std::uint32_t{image[0]} | std::uint32_t{image[1]} << 8 | std::uint32_t{image[2]} << 16 |
         std::uint32_t{image[3]} << 24;
}

// The image decoded in an exact-size area; the image is copied to an
// exact-size heap block too, so that a read past its end is caught.
std::vector<std::uint8_t> Decode(const std::vector<std::uint8_t>& image) {
  const std::size_t payloadLength = image.size() - lzs::HeaderSize;
  auto copy = std::make_unique<std::uint8_t[]>(image.size());
  std::memcpy(copy.get(), image.data(), image.size());
  auto area = std::make_unique<std::uint8_t[]>(lzs::MaxExpansion * payloadLength);
  const std::uint32_t n =
      lzs::DecodeLzs(copy.get(), static_cast<std::uint32_t>(image.size()), area.get());
  return std::vector<std::uint8_t>(area.get(), area.get() + n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool reuse = data[0] & 1;
  const lzs::Parse parse = (data[0] & 8)   ? lzs::Parse::Fast
                           : (data[0] & 2) ? lzs::Parse::Greedy
                                           : lzs::Parse::Optimal;
  const bool extraChecks = data[0] & 4;
  const std::uint8_t* input = data + 1;
  const std::size_t length = size - 1;

  static lzs::LzsEncoder shared;
  lzs::LzsEncoder fresh;
  const std::vector<std::uint8_t> image = (reuse ? shared : fresh).Encode(input, length, parse);

  Check(image.size() >= lzs::HeaderSize);
  Check(HeaderOf(image) == image.size() - lzs::HeaderSize);
  const std::vector<std::uint8_t> decoded = Decode(image);
  Check(decoded.size() == length);
  Check(length == 0 || std::memcmp(decoded.data(), input, length) == 0);

  if (extraChecks) {
    if (reuse) Check(image == lzs::LzsEncoder().Encode(input, length, parse));
    const bool optimal = parse == lzs::Parse::Optimal;
    const std::vector<std::uint8_t> other =
        optimal ? lzs::EncodeLzsGreedy(input, length) : lzs::EncodeLzs(input, length);
    Check((optimal ? image.size() : other.size()) <= (optimal ? other.size() : image.size()));
  }
  return 0;
}
