// A packer written apart from lzs/encode.cpp, for the tests that need
// images of a packer other than ours: plain greedy, the longest match among
// the nearest 256 places that share its first three bytes (the nearest of
// the longest), and nothing of the zero-filled window before the output's
// start.
#pragma once

#include <cstdint>
#include <vector>

std::vector<std::uint8_t> PackGreedy(const std::vector<std::uint8_t>& data);
