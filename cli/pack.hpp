// Packing one input in bounded memory, whatever its size: read in pieces
// into a stream of liblzs, or, on more than one thread, cut into chunks
// that the threads parse as segments while one of them takes the parsed
// ones, in input order, into the stream. Either way the image is the same,
// byte for byte, as lzs_encode's.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "cli/files.hpp"
#include "lzs.h"

namespace cli {

// The most threads one input is packed on: each holds a few MiB of
// segments, and the run stays within 64 MiB.
constexpr unsigned long MaxPackThreads = 4;

struct PackSetting {
  lzs_cstream* stream;  // reset here for the image
  int level;
  unsigned threads;                      // 1: the stream alone
  std::atomic<std::uint64_t>* progress;  // input bytes taken so far, or nullptr
};

// What became of a packing.
struct Packed {
  std::size_t code = 0;       // the library's error, or 0
  bool outputFailed = false;  // put failed, with its reason
  std::uint64_t unpacked = 0;
  std::uint64_t image = 0;  // header included
  std::uint8_t header[LZS_HEADER_SIZE] = {};
};

// Packs what input holds; put is given the image as it is made, from its
// start, where LZS_HEADER_SIZE zero bytes stand for the header, which is
// known only at the end and given in packed.header. False on failure: the
// library's (packed.code), the output's (packed.outputFailed) or the
// input's, with failure's reason for the last two. Any input is taken whose
// image stays within LZS_IMAGE_SIZE_MAX.
bool PackInput(Input& input, const PackSetting& setting, const TakePiece& put, Packed& packed,
               Failure& failure);

}  // namespace cli
