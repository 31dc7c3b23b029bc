#include "lzs/decode.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/case_names.hpp"
#include "tests/support/images.hpp"
#include "tests/support/reference.hpp"

namespace {

using testdata::Bytes;
using testdata::WithHeader;

constexpr std::uint8_t Sentinel = 0xCC;

// The two bytes of a back-reference to window position p, copying length bytes.
Bytes Reference(std::uint32_t p, std::uint32_t length) {
  return {lzs::ItemByte0(p), lzs::ItemByte1(p, length)};
}

// The window position that gives distance d at output index i.
std::uint32_t PositionFor(std::uint32_t i, std::uint32_t d) { return lzs::ItemPositionAt(i, d); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

using Decoder = std::uint32_t (*)(const std::uint8_t*, std::uint32_t, std::uint8_t*);

// Decodes into an area of exactly the guaranteed size followed by sentinels,
// and checks that nothing past the area was written.
Bytes Decode(Decoder decode, const Bytes& image) {
  const std::size_t payload = image.size() > 4 ? image.size() - 4 : 0;
  const std::size_t area = lzs::MaxExpansion * payload;
  Bytes out(area + 64, Sentinel);
  const std::uint32_t n =
      decode(image.data(), static_cast<std::uint32_t>(image.size()), out.data());
  EXPECT_LE(n, area);
  for (std::size_t k = area; k < out.size(); ++k) {
    if (out[k] != Sentinel) {
      ADD_FAILURE() << "byte " << k << " written past the output area of " << area;
      break;
    }
  }
  out.resize(n);
  return out;
}

struct DecodeCase {
  const char* name;
  Bytes image;
  Bytes expected;  // empty: rejected, result 0
};

// Named, not dumped byte by byte, in test lists and failures.
void PrintTo(const DecodeCase& c, std::ostream* out) { *out << c.name; }

std::vector<DecodeCase> DecodeCases() {
  const Bytes worked = testdata::WorkedExample;
  Bytes headerHigh = worked;
  headerHigh[0] = 0x07;
  Bytes headerLow = worked;
  headerLow[0] = 0x05;
  Bytes headerHighByte = worked;
  headerHighByte[3] = 0x01;

  // 4104 literal bytes, then a back-reference of distance 0.
  Bytes longLiterals;
  Bytes longOutput;
  for (int group = 0; group < 513; ++group) {
    longLiterals.push_back(0xFF);
    for (int k = 0; k < 8; ++k) {
      const auto byte = static_cast<std::uint8_t>(1 + (group * 8 + k) % 251);
      longLiterals.push_back(byte);
      longOutput.push_back(byte);
    }
  }
  const auto pastWindow = static_cast<std::uint32_t>(longOutput.size());
  Bytes distanceZeroFar = Concat({longLiterals, {0x00}, Reference(PositionFor(pastWindow, 0), 7)});
  Bytes distanceZeroFarOut = longOutput;
  distanceZeroFarOut.insert(distanceZeroFarOut.end(), 7, 0);
  // Distance 4095 at the same place reaches back to output index 9.
  Bytes farthest = Concat({longLiterals, {0x00}, Reference(PositionFor(pastWindow, 4095), 3)});
  Bytes farthestOut = longOutput;
  farthestOut.insert(farthestOut.end(), longOutput.begin() + 9, longOutput.begin() + 12);

  Bytes eightLongest = {0x00};
  for (int k = 0; k < 8; ++k) {
    const Bytes ref = Reference(0x123, lzs::MaxCopy);
    eightLongest.insert(eightLongest.end(), ref.begin(), ref.end());
  }

  return {
      {"worked example", worked, Text("ABCABCABC")},
      {"header one larger", headerHigh, {}},
      {"header one smaller", headerLow, {}},
      {"header high byte set", headerHighByte, {}},
      {"empty image", {}, {}},
      {"one byte", {0x01}, {}},
      {"header only", {0x00, 0, 0, 0}, {}},
      {"flag byte only, back-reference without bytes", {0x01, 0, 0, 0, 0x00}, {}},
      {"flag byte only, literal without byte", {0x01, 0, 0, 0, 0x01}, {}},
      {"single literal", WithHeader({0x01, 'z'}), Text("z")},
      {"back-reference at index 0 writes zeros whatever the position",
       WithHeader(Concat({{0x00}, Reference(0x9A7, 5)})), Bytes(5, 0)},
      {"distance 1 repeats the last byte",
       WithHeader(Concat({{0x01, 'x'}, Reference(PositionFor(1, 1), 6)})), Text("xxxxxxx")},
      {"distance 3 repeats a pattern",
       WithHeader(Concat({{0x07, 'a', 'b', 'c'}, Reference(PositionFor(3, 3), 8)})),
       Text("abcabcabcab")},
      {"distance 0 writes zeros",
       WithHeader(Concat({{0x03, 'p', 'q'}, Reference(PositionFor(2, 0), 4)})),
       Concat({Text("pq"), Bytes(4, 0)})},
      {"distance 0 after more than 4096 bytes still writes zeros", WithHeader(distanceZeroFar),
       distanceZeroFarOut},
      {"distance 4095 reaches the farthest byte", WithHeader(farthest), farthestOut},
      {"source straddling index 0 reads zeros, then this copy's bytes",
       WithHeader(Concat({{0x03, 'A', 'B'}, Reference(PositionFor(2, 4), 6)})),
       {'A', 'B', 0, 0, 'A', 'B', 0, 0}},
      {"seventeen payload bytes yield 144", WithHeader(eightLongest), Bytes(144, 0)},
      {"back-reference cut short is dropped", WithHeader({0x01, 'k', 0x10}), Text("k")},
      {"lone byte after a full group is dropped",
       WithHeader({0xFF, '1', '2', '3', '4', '5', '6', '7', '8', 0x00, 0x55}), Text("12345678")},
      {"flag bits left after the payload are ignored",
       WithHeader(Concat({{0xFD, 'm'}, Reference(PositionFor(1, 1), 3)})), Text("mmmm")},
      {"second group continues the output",
       WithHeader(Concat({{0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 0x00},
                          Reference(PositionFor(8, 8), 10)})),
       Text("abcdefghabcdefghab")},
  };
}

class DecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, GivesExpectedBytes) {
  EXPECT_EQ(Decode(lzs::DecodeLzs, GetParam().image), GetParam().expected);
}

TEST_P(DecodeTest, ReferenceDecoderAgrees) {
  EXPECT_EQ(Decode(DecodeLzsReference, GetParam().image), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Images, DecodeTest, testing::ValuesIn(DecodeCases()), CaseName());

}  // namespace
