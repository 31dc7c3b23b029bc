// Packs a large generated input with lzs_encode_stream into a file, puts the
// header in, and unpacks the file with lzs_decode_stream against the input
// made again: the round trip of an input far larger than the memory the
// process may have (the test runs it under ulimit -v, see CMakeLists.txt).
//
// The input is made a MiB at a time, each MiB one of: zeros, a period of 17
// bytes, a period of 4,095 bytes, text, random bytes, so that the optimal
// parse meets long runs, periods and no matches at all.
//
//   stream_memory LEVEL MIB FILE
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lzs.h"

namespace {

constexpr size_t Piece = size_t{1} << 20;

// MiB number k of the input.
void MakePiece(std::uint64_t k, std::vector<std::uint8_t>& out) {
  std::mt19937 random(static_cast<std::uint32_t>(k * 2654435761u + 1));
  out.resize(Piece);
  const std::uint32_t kind = random() % 5;
  std::vector<std::uint8_t> unit(kind == 1 ? 17 : 4095);
  for (auto& byte : unit) byte = static_cast<std::uint8_t>(random());
  static const char* const words[] = {"the ", "window ", "of ", "packed ", "file, ", "\n"};
  size_t at = 0;
  while (at < Piece) {
    switch (kind) {
      case 0: out[at++] = 0; break;
      case 1:
      case 2:
        out[at] = unit[at % unit.size()];
        ++at;
        break;
      case 3:
        for (const char* w = words[random() % 6]; *w != '\0' && at < Piece; ++w) out[at++] = *w;
        break;
      default: out[at++] = static_cast<std::uint8_t>(random()); break;
    }
  }
}

int Fail(const char* what, size_t result = 0) {
  (void)std::fprintf(stderr, "stream_memory: %s%s%s\n", what, result != 0 ? ": " : "",
                     result != 0 ? lzs_error_name(result) : "");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return Fail("usage: stream_memory LEVEL MIB FILE");
  const int level = static_cast<int>(std::strtol(argv[1], nullptr, 10));
  const std::uint64_t pieces = std::strtoull(argv[2], nullptr, 10);
  FILE* file = std::fopen(argv[3], "w+b");
  if (file == nullptr) return Fail("cannot open the file");

  lzs_cstream* cs = lzs_cstream_create();
  if (cs == nullptr || lzs_cstream_reset(cs, level) != 0) return Fail("cannot start the stream");
  std::vector<std::uint8_t> in;
  std::vector<std::uint8_t> out(lzs_cstream_out_size());
  size_t result = 0;
  for (std::uint64_t k = 0; k < pieces; ++k) {
    MakePiece(k, in);
    const lzs_cstream_op op = k + 1 == pieces ? LZS_CSTREAM_END : LZS_CSTREAM_CONTINUE;
    size_t srcPos = 0;
    do {
      size_t dstPos = 0;
      result =
          lzs_encode_stream(cs, out.data(), out.size(), &dstPos, in.data(), in.size(), &srcPos, op);
      if (lzs_is_error(result)) return Fail("packing", result);
      if (std::fwrite(out.data(), 1, dstPos, file) != dstPos) return Fail("writing");
    } while (srcPos < in.size() || (op == LZS_CSTREAM_END && result != 0));
  }
  std::uint8_t header[LZS_HEADER_SIZE];
  result = lzs_cstream_header(cs, header);
  if (lzs_is_error(result)) return Fail("header", result);
  lzs_cstream_free(cs);
  if (std::fseek(file, 0, SEEK_SET) != 0 ||
      std::fwrite(header, 1, sizeof header, file) != sizeof header) {
    return Fail("writing the header");
  }
  const unsigned long long imageSize = result;

  // Back: the image in pieces, the output against the input made again.
  if (std::fseek(file, 0, SEEK_SET) != 0) return Fail("seeking");
  lzs_dstream* ds = lzs_dstream_create();
  if (ds == nullptr) return Fail("cannot start the decoder");
  std::vector<std::uint8_t> image(lzs_dstream_in_size());
  std::vector<std::uint8_t> decoded(Piece);
  std::uint64_t made = 0;
  size_t decodedAt = 0;
  size_t got = 0;
  size_t srcPos = 0;
  bool ended = false;
  MakePiece(0, in);
  for (;;) {
    if (srcPos == got && !ended) {
      got = std::fread(image.data(), 1, image.size(), file);
      srcPos = 0;
      ended = got == 0;
    }
    size_t dstPos = decodedAt;
    result =
        lzs_decode_stream(ds, decoded.data(), decoded.size(), &dstPos, image.data(), got, &srcPos);
    if (lzs_is_error(result)) return Fail("unpacking", result);
    decodedAt = dstPos;
    if (decodedAt == Piece) {
      if (made >= pieces || std::memcmp(decoded.data(), in.data(), Piece) != 0) {
        return Fail("the output differs from the input");
      }
      decodedAt = 0;
      if (++made < pieces) MakePiece(made, in);
    } else if (ended) {
      break;
    }
  }
  lzs_info info;
  result = lzs_dstream_end(ds, &info);
  lzs_dstream_free(ds);
  (void)std::fclose(file);
  (void)std::remove(argv[3]);
  if (lzs_is_error(result) || made != pieces || decodedAt != 0) return Fail("unpacking", result);
  std::printf("stream_memory: level %d, %llu MiB in, %llu bytes of image, unpacked equal\n", level,
              static_cast<unsigned long long>(pieces), imageSize);
  return 0;
}
