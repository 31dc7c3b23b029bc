// The plain, byte-by-byte decoder that reads like the format description.
// Kept beside the fast DecodeLzs as the reference that tests, fuzzers and
// benchmarks compare it with; same contract, same results.
#pragma once

#include <cstdint>

std::uint32_t DecodeLzsReference(const std::uint8_t* image, std::uint32_t imageLength,
                                 std::uint8_t* outputArea);
