// The one-shot encoder: turns bytes into an LZS image (4-byte little-endian
// payload length, then groups of one flag byte and up to eight items) that
// DecodeLzs expands to exactly those bytes. It runs the streaming encoder
// (encode_stream.hpp) over the whole input at once.
//
// A literal costs 9 bits and a back-reference 17 bits, the flag bit included,
// so the smallest image is a shortest path over the input positions. The
// optimal parse finds the longest match (3 to 18 bytes, distance 1 to 4095,
// the zero bytes before the start of the output included) exactly at every
// position and takes the cheapest path (optimal_parse.hpp). It never writes a
// back-reference of distance 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lzs/buffer.hpp"
#include "lzs/encode_stream.hpp"

namespace lzs {

// Largest input the one-shot encoder takes, which holds the input and its
// image whole; the stream takes any input whose image fits the format.
inline constexpr std::size_t MaxEncodeSize = std::size_t{1} << 31;

// The largest image of size input bytes: every byte a literal.
constexpr std::size_t MaxImageSize(std::size_t size) { return 4 + (size + 7) / 8 + size; }

// What Encode returns when its workspace cannot be allocated.
inline constexpr std::size_t EncodeOutOfMemory = static_cast<std::size_t>(-1);

// Owns the workspace (a few hundred KiB of match tables and buffers; a copy
// of the input when it overlaps the destination, and room for the largest
// image when the destination has less), so that one object can pack many
// inputs without reallocating. The workspace is malloc'd, so the class needs
// no C++ runtime; only its std::vector conveniences, inline below, do.
class LzsEncoder {
 public:
  // Returns the whole image, header included; an empty vector only when size
  // is above MaxEncodeSize or the workspace cannot be allocated.
  std::vector<std::uint8_t> Encode(const std::uint8_t* data, std::size_t size,
                                   Parse parse = Parse::Optimal) {
    std::vector<std::uint8_t> image(size > MaxEncodeSize ? 0 : MaxImageSize(size));
    const std::size_t n = Encode(data, size, parse, image.data(), image.size());
    image.resize(n == EncodeOutOfMemory ? 0 : n);
    return image;
  }

  // Returns the image size (0 only when size is above MaxEncodeSize,
  // EncodeOutOfMemory when the workspace cannot be allocated) and writes the
  // image to dst when it fits in dstCapacity bytes; otherwise writes nothing.
  // dst may overlap data.
  std::size_t Encode(const std::uint8_t* data, std::size_t size, Parse parse, std::uint8_t* dst,
                     std::size_t dstCapacity);

  // The limits of the fast parse's search, from now on.
  void SetFastLimits(const FastLimits& limits) { fastLimits_ = limits; }

  // Bytes of workspace the object holds now.
  std::size_t WorkspaceBytes() const;

  // The longest match at every input position, as found by the match search
  // that Encode uses: lengths[i] is 0 when no match of 3 or more bytes
  // exists, else the length; distances[i] is a distance at which it occurs.
  // Both arrays hold size entries; false (and nothing found) when size is
  // above MaxEncodeSize or out of memory.
  static bool FindLongestMatches(const std::uint8_t* data, std::size_t size, std::uint8_t* lengths,
                                 std::uint16_t* distances);
  static void FindLongestMatches(const std::uint8_t* data, std::size_t size,
                                 std::vector<std::uint8_t>& lengths,
                                 std::vector<std::uint16_t>& distances) {
    lengths.assign(size, 0);
    distances.assign(size, 0);
    if (!FindLongestMatches(data, size, lengths.data(), distances.data())) {
      lengths.assign(size, 0);
      distances.assign(size, 0);
    }
  }

 private:
  StreamEncoder stream_;
  FastLimits fastLimits_;
  Buffer<std::uint8_t> copy_;   // the input, when it overlaps dst
  Buffer<std::uint8_t> image_;  // an image for a dst smaller than the bound
};

// The smallest LZS image of data[0, size).
inline std::vector<std::uint8_t> EncodeLzs(const std::uint8_t* data, std::size_t size) {
  LzsEncoder encoder;
  return encoder.Encode(data, size, Parse::Optimal);
}

// The image of a greedy parse (the longest match at each position), for
// comparison.
inline std::vector<std::uint8_t> EncodeLzsGreedy(const std::uint8_t* data, std::size_t size) {
  LzsEncoder encoder;
  return encoder.Encode(data, size, Parse::Greedy);
}

}  // namespace lzs
