// lzs_decode_stream against lzs_decode on arbitrary images, split where the
// fuzzer chooses.
//
// The first four input bytes choose the run: byte 0 how the rest becomes an
// image (even: as it is, header included; odd: behind a correct header, so
// that most runs get past the header check); bytes 1 and 2 the sizes of the
// pieces the image is fed in, alternately (1 to 192 bytes for values below
// 192, else a multiple of 256 bytes up to 16 KiB, so that one call can have
// a piece that yields more than a window of output); byte 3 the
// output room per call: 1 to 128 bytes for values below 128, else a multiple
// of 512 bytes up to 64 KiB, so that calls also write more than a window of
// output. Output, and the error when there is one, must be what lzs_decode
// gives for the whole image.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "lzs.h"
#include "tests/support/stream_decode.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || size > 0x10000) return 0;
  std::vector<std::uint8_t> image;
  if (data[0] % 2 == 1) {
    const auto payload = static_cast<std::uint32_t>(size - 4);
    for (int k = 0; k < LZS_HEADER_SIZE; ++k)
      image.push_back(static_cast<std::uint8_t>(payload >> (8 * k)));
  }
  image.insert(image.end(), data + 4, data + size);
  auto piece = [](std::uint8_t b) {
    return b < 192 ? std::size_t{b} + 1 : (std::size_t{b} - 191) * 256;
  };
  const std::vector<std::size_t> pieces{piece(data[1]), piece(data[2])};
  const std::size_t room =
      data[3] < 128 ? std::size_t{data[3]} + 1 : (std::size_t{data[3]} - 127) * 512;
  const testdata::StreamResult streamed = testdata::DecodeStream(image, pieces, room);
  const testdata::StreamResult whole = testdata::DecodeWhole(image);
  if (streamed.code != whole.code || streamed.output != whole.output) std::abort();
  return 0;
}
