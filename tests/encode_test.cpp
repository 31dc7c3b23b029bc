#include "lzs/encode.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "lzs/decode.hpp"
#include "lzs/match_tree.hpp"
#include "lzs/optimal_parse.hpp"
#include "tests/support/images.hpp"
#include "tests/support/reference.hpp"

namespace {

using testdata::Bytes;
using testdata::Words;

Bytes Decode(const Bytes& image) {
  Bytes out(lzs::MaxExpansion * image.size() + 1, 0xCC);
  out.resize(lzs::DecodeLzs(image.data(), static_cast<std::uint32_t>(image.size()), out.data()));
  return out;
}

// One item of an image, as a decoder sees it.
struct Item {
  bool literal;
  std::uint32_t index;     // output index where it starts
  std::uint32_t distance;  // back-references only
  std::uint32_t length;
};

// Walks an image the way the format describes it and lists its items.
std::vector<Item> ListItems(const Bytes& image) {
  std::vector<Item> items;
  std::size_t at = lzs::HeaderSize;
  std::uint32_t index = 0;
  while (at < image.size()) {
    const std::uint8_t flags = image[at++];
    for (int k = 0; k < 8 && at < image.size(); ++k) {
      if (flags >> k & 1) {
        items.push_back({true, index, 0, 1});
        ++at;
        ++index;
      } else {
        if (at + 2 > image.size()) break;
        const std::uint32_t position = lzs::ItemPosition(image[at], image[at + 1]);
        const std::uint32_t length = lzs::ItemLength(image[at + 1]);
        items.push_back({false, index, lzs::ItemDistance(index, position), length});
        at += 2;
        index += length;
      }
    }
  }
  return items;
}

// Bytes of the smallest image for a parse of `literals` literals and `copies`
// back-references.
std::size_t ImageSize(std::size_t literals, std::size_t copies) {
  return lzs::HeaderSize + (literals + copies + 7) / 8 + literals + 2 * copies;
}

// Checks everything an image must be, apart from its size.
void ExpectValidImage(const Bytes& input, const Bytes& image) {
  ASSERT_GE(image.size(), lzs::HeaderSize);
  const std::uint32_t header =
      image[0] | image[1] << 8 | image[2] << 16 | static_cast<std::uint32_t>(image[3]) << 24;
  EXPECT_EQ(header, image.size() - lzs::HeaderSize);
  EXPECT_EQ(Decode(image), input);
  Bytes reference(lzs::MaxExpansion * image.size() + 1);
  reference.resize(
      DecodeLzsReference(image.data(), static_cast<std::uint32_t>(image.size()), reference.data()));
  EXPECT_EQ(reference, input);
  std::size_t literals = 0;
  std::size_t copies = 0;
  for (const Item& item : ListItems(image)) {
    if (item.literal) {
      ++literals;
    } else {
      ++copies;
      EXPECT_NE(item.distance, 0u) << "distance 0 at output index " << item.index;
    }
  }
  // No stray bytes: exactly the flag bytes the items need.
  EXPECT_EQ(image.size(), ImageSize(literals, copies));
}

Bytes Random(std::size_t size, std::uint32_t alphabet, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out(size);
  for (auto& byte : out) byte = static_cast<std::uint8_t>(random() % alphabet);
  return out;
}

Bytes Runs(std::size_t size, std::uint32_t seed) {
  std::mt19937 random(seed);
  Bytes out;
  while (out.size() < size)
    out.insert(out.end(), 1 + random() % 40, static_cast<std::uint8_t>(random() % 4));
  out.resize(size);
  return out;
}

// Zeros first, as a copy may take from the zeros before the start.
Bytes ZerosThenText(std::size_t size, std::uint32_t seed) {
  Bytes out(std::min<std::size_t>(size, 1 + seed % 50), 0);
  const Bytes tail = Words(size - out.size(), seed);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

TEST(EncodeLzs, RoundTripsGeneratedInputs) {
  std::vector<std::size_t> sizes;
  for (std::size_t n = 0; n <= 40; ++n) sizes.push_back(n);  // the first groups
  for (std::size_t n : {4095, 4096, 4097, 4113, 4114, 8191, 8192, 8209, 12288, 20000})
    sizes.push_back(n);
  std::mt19937 random(7);
  for (int k = 0; k < 20; ++k) sizes.push_back(random() % 20001);

  lzs::LzsEncoder encoder;
  std::uint32_t seed = 1;
  for (const std::size_t size : sizes) {
    const Bytes inputs[] = {Random(size, 256, seed), Random(size, 3, seed),     Runs(size, seed),
                            Words(size, seed),       ZerosThenText(size, seed), Bytes(size, 0),
                            Bytes(size, 0xFF)};
    for (const Bytes& input : inputs) {
      SCOPED_TRACE("size " + std::to_string(size) + ", input " + std::to_string(&input - inputs));
      const Bytes optimal = encoder.Encode(input.data(), input.size(), lzs::Parse::Optimal);
      const Bytes greedy = encoder.Encode(input.data(), input.size(), lzs::Parse::Greedy);
      const Bytes fast = encoder.Encode(input.data(), input.size(), lzs::Parse::Fast);
      ExpectValidImage(input, optimal);
      ExpectValidImage(input, greedy);
      ExpectValidImage(input, fast);
      EXPECT_LE(optimal.size(), greedy.size());
      EXPECT_LE(optimal.size(), fast.size());
      EXPECT_EQ(lzs::EncodeLzs(input.data(), input.size()), optimal);
    }
    ++seed;
  }
}

TEST(EncodeLzs, KnownImages) {
  struct Case {
    const char* name;
    Bytes input;
    Bytes image;
  };
  const Case cases[] = {
      {"empty", {}, {0, 0, 0, 0}},
      {"one byte", {'A'}, {2, 0, 0, 0, 0x01, 'A'}},
      {"worked example",
       Bytes(testdata::WorkedExampleDecoded.begin(), testdata::WorkedExampleDecoded.end()),
       testdata::WorkedExample},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(lzs::EncodeLzs(c.input.data(), c.input.size()), c.image);
  }
}

TEST(EncodeLzs, LeadingZerosComeFromBeforeTheStart) {
  // 18 zeros are one copy from before the start; 36 are two.
  for (const std::size_t size : {3, 18, 36}) {
    const Bytes zeros(size, 0);
    const Bytes image = lzs::EncodeLzs(zeros.data(), zeros.size());
    ExpectValidImage(zeros, image);
    EXPECT_EQ(image.size(), ImageSize(0, (size + 17) / 18));
  }
}

TEST(LzsEncoder, WorkspaceStaysSmall) {
  // At most 16 bytes of working memory per input byte on a large input.
  const Bytes input = Words(1u << 22, 9);
  lzs::LzsEncoder encoder;
  encoder.Encode(input.data(), input.size());
  EXPECT_LE(encoder.WorkspaceBytes(), 16 * input.size());
}

TEST(EncodeLzs, RefusesTooLargeInput) {
  const std::uint8_t byte = 0;
  // The data is never read: the size alone is refused.
  EXPECT_TRUE(lzs::EncodeLzs(&byte, lzs::MaxEncodeSize + 1).empty());
}

// The longest match at i by plain search: the most bytes, up to MaxCopy and
// the end of the input, that a copy from distance 1 to 4095 reproduces, with
// zeros before the start.
std::uint32_t LongestMatch(const Bytes& input, std::size_t i, std::uint32_t distance) {
  std::uint32_t length = 0;
  while (length < lzs::MaxCopy && i + length < input.size()) {
    const std::ptrdiff_t j = static_cast<std::ptrdiff_t>(i + length) - distance;
    const std::uint8_t source = j < 0 ? 0 : input[static_cast<std::size_t>(j)];
    if (source != input[i + length]) break;
    ++length;
  }
  return length;
}

TEST(FindLongestMatches, EqualsPlainSearch) {
  const Bytes inputs[] = {Random(20000, 2, 3), Random(20000, 4, 4),     Runs(20000, 5),
                          Words(20000, 6),     ZerosThenText(9000, 40), Bytes(9000, 0)};
  for (const Bytes& input : inputs) {
    SCOPED_TRACE("input " + std::to_string(&input - inputs));
    std::vector<std::uint8_t> lengths;
    std::vector<std::uint16_t> distances;
    lzs::LzsEncoder::FindLongestMatches(input.data(), input.size(), lengths, distances);
    for (std::size_t i = 0; i < input.size(); ++i) {
      std::uint32_t longest = 0;
      for (std::uint32_t d = 1; d <= lzs::WindowMask && longest < lzs::MaxCopy; ++d) {
        longest = std::max(longest, LongestMatch(input, i, d));
      }
      if (longest < lzs::MinCopy) longest = 0;
      ASSERT_EQ(lengths[i], longest) << "at " << i;
      if (longest != 0) {
        ASSERT_GE(distances[i], 1);
        ASSERT_LE(distances[i], lzs::WindowMask);
        ASSERT_EQ(LongestMatch(input, i, distances[i]), longest) << "at " << i;
      }
    }
  }
}

TEST(FindLongestMatches, FindsThreeBytesBehindOthersOfTheSameHash) {
  // Three bytes, 4000 random ones (among which, for some seeds, three that
  // hash alike), the three again: always a match at the end.
  for (std::uint32_t seed = 0; seed < 200; ++seed) {
    Bytes input = {'x', 'y', 'z'};
    const Bytes noise = Random(4000, 256, seed);
    input.insert(input.end(), noise.begin(), noise.end());
    input.insert(input.end(), {'x', 'y', 'z'});
    std::vector<std::uint8_t> lengths;
    std::vector<std::uint16_t> distances;
    lzs::LzsEncoder::FindLongestMatches(input.data(), input.size(), lengths, distances);
    EXPECT_EQ(lengths[input.size() - 3], 3) << "seed " << seed;
  }
}

TEST(MatchTree, RunsOfSearchesFindWhatSingleSearchesFind) {
  // Runs of every length up to past MaxCopy, so that their ends fall on each
  // position around the last MaxCopy bytes, where the searches reach fewer.
  using lzs::TextLayout;
  const Bytes inputs[] = {Random(600, 2, 8), Runs(600, 9), Words(600, 10)};
  for (const Bytes& input : inputs) {
    const auto end = static_cast<std::uint32_t>(TextLayout::InputStart + input.size());
    Bytes text(end + TextLayout::SearchPadding, 0);
    std::copy(input.begin(), input.end(), text.begin() + TextLayout::InputStart);
    for (std::uint32_t run = 1; run <= lzs::MaxCopy + 2; ++run) {
      SCOPED_TRACE("input " + std::to_string(&input - inputs) + ", runs of " + std::to_string(run));
      lzs::MatchTree single;
      lzs::MatchTree runs;
      ASSERT_TRUE(single.Start() && runs.Start());
      std::uint32_t distance = 0;
      for (std::uint32_t pos = TextLayout::ZeroStart; pos < TextLayout::InputStart; ++pos) {
        single.Find(text.data(), pos, lzs::MaxCopy, distance);
        runs.Find(text.data(), pos, lzs::MaxCopy, distance);
      }
      std::vector<std::uint16_t> codes(run);
      for (std::uint32_t pos = TextLayout::InputStart; pos < end; pos += run) {
        const std::uint32_t count = std::min(run, end - pos);
        runs.FindRun(text.data(), pos, count, end, codes.data());
        for (std::uint32_t k = 0; k < count; ++k) {
          const std::uint32_t length =
              single.Find(text.data(), pos + k, std::min(lzs::MaxCopy, end - pos - k), distance);
          ASSERT_EQ(codes[k], length == 0 ? 0 : lzs::MakeCode(distance, length))
              << "at " << pos + k;
        }
      }
    }
  }
}

// The smallest image size over every parse of the input, each counted in
// bytes exactly (flag bytes per group of eight items included), where the
// encoder minimises 9 bits per literal and 17 per copy. The two agree: with L
// literals and C copies the image has 4 + L + 2C + ceil((L + C) / 8) bytes,
// which is 4 + ceil((9L + 17C) / 8), so fewer bits never means more bytes. A copy at i
// may have any distance from 1 to 4095; those above i + MaxCopy read only
// zeros, like i + MaxCopy, so the search stops there.
class ExhaustiveSearch {
 public:
  explicit ExhaustiveSearch(const Bytes& input) : input_(input) {
    for (std::size_t i = 0; i < input.size(); ++i) {
      std::uint32_t longest = 0;
      const std::uint32_t last =
          std::min<std::uint32_t>(lzs::WindowMask, static_cast<std::uint32_t>(i) + lzs::MaxCopy);
      for (std::uint32_t d = 1; d <= last; ++d)
        longest = std::max(longest, LongestMatch(input, i, d));
      longest_.push_back(longest);
    }
  }

  std::size_t Smallest() {
    best_ = SIZE_MAX;
    Search(0, 0, 0);
    return best_;
  }

 private:
  void Search(std::size_t i, std::size_t literals, std::size_t copies) {
    if (i == input_.size()) {
      best_ = std::min(best_, ImageSize(literals, copies));
      return;
    }
    Search(i + 1, literals + 1, copies);
    for (std::uint32_t length = lzs::MinCopy; length <= longest_[i]; ++length)
      Search(i + length, literals, copies + 1);
  }

  const Bytes& input_;
  std::vector<std::uint32_t> longest_;
  std::size_t best_ = 0;
};

TEST(EncodeLzs, EqualsExhaustiveOptimum) {
  std::vector<Bytes> inputs;
  // Every input of up to 11 bytes over {0, 1}: zeros from before the start,
  // short repeats, overlapping copies.
  for (std::size_t size = 1; size <= 11; ++size) {
    for (std::uint32_t bits = 0; bits < (1u << size); ++bits) {
      Bytes input(size);
      for (std::size_t k = 0; k < size; ++k) input[k] = static_cast<std::uint8_t>(bits >> k & 1);
      inputs.push_back(input);
    }
  }
  // Longer random inputs over small alphabets, where parses differ most.
  for (std::uint32_t seed = 0; seed < 300; ++seed) {
    inputs.push_back(Random(12 + seed % 13, 2 + seed % 3, seed));
    inputs.push_back(Runs(12 + seed % 13, seed));
  }
  lzs::LzsEncoder encoder;
  std::size_t greedyWorse = 0;
  for (const Bytes& input : inputs) {
    const Bytes image = encoder.Encode(input.data(), input.size());
    ASSERT_EQ(Decode(image), input);
    ASSERT_EQ(image.size(), ExhaustiveSearch(input).Smallest())
        << "input of " << input.size() << " bytes, number " << &input - inputs.data();
    if (encoder.Encode(input.data(), input.size(), lzs::Parse::Greedy).size() > image.size())
      ++greedyWorse;
  }
  // The search would find nothing to improve if the inputs were too easy.
  EXPECT_GT(greedyWorse, 100u);
}

}  // namespace

// The fast parse writes straight into a buffer with room for any image, else
// through its own: the image is the same either way, and one encoder packing
// other inputs first (its tables then hold their positions) gives the image a
// new encoder gives.
TEST(LzsEncoder, FastImageDoesNotDependOnBufferOrHistory) {
  const Bytes inputs[] = {Words(20000, 3), Runs(9000, 4), Random(5000, 3, 5), Bytes(4100, 0),
                          Words(17, 6)};
  lzs::LzsEncoder reused;
  for (const Bytes& input : inputs) {
    SCOPED_TRACE("input " + std::to_string(&input - inputs));
    const Bytes fresh = lzs::LzsEncoder().Encode(input.data(), input.size(), lzs::Parse::Fast);
    ExpectValidImage(input, fresh);
    EXPECT_EQ(reused.Encode(input.data(), input.size(), lzs::Parse::Fast), fresh);
    struct Case {
      std::size_t capacity;
      bool written;
    };
    const std::size_t bound = 4 + input.size() + (input.size() + 7) / 8;
    for (const Case c :
         {Case{bound, true}, Case{fresh.size(), true}, Case{fresh.size() - 1, false}}) {
      Bytes dst(bound, 0xA5);
      EXPECT_EQ(reused.Encode(input.data(), input.size(), lzs::Parse::Fast, dst.data(), c.capacity),
                fresh.size());
      if (c.written) {
        EXPECT_TRUE(std::equal(fresh.begin(), fresh.end(), dst.begin()))
            << "capacity " << c.capacity;
      } else {
        EXPECT_EQ(dst, Bytes(bound, 0xA5)) << "capacity " << c.capacity;
      }
    }
  }
}

// Any search limits (those below the smallest useful ones too) give a valid
// image, no smaller than the optimal one. Over an input much longer than
// the search's link blocks (this text has only ten words, so the bounded
// search stays some 20% above the optimum), it keeps finding its matches.
TEST(LzsEncoder, AnyFastLimitsGiveAValidImage) {
  const Bytes inputs[] = {Words(30000, 8), Runs(12000, 9), Random(6000, 4, 10), Words(200000, 11)};
  const Bytes& longText = inputs[3];
  const lzs::FastLimits limitRows[] = {{0, 0, 0}, {1, 3, 1}, {4, 8, 1}, {}, {64, 19, 64}};
  const lzs::FastLimits& defaults = limitRows[3];
  for (const Bytes& input : inputs) {
    SCOPED_TRACE("input " + std::to_string(&input - inputs));
    const std::size_t optimal = lzs::EncodeLzs(input.data(), input.size()).size();
    for (const lzs::FastLimits& limits : limitRows) {
      lzs::LzsEncoder encoder;
      encoder.SetFastLimits(limits);
      const Bytes image = encoder.Encode(input.data(), input.size(), lzs::Parse::Fast);
      ExpectValidImage(input, image);
      EXPECT_GE(image.size(), optimal) << "depth " << limits.depth;
      if (&input == &longText && &limits == &defaults) {
        EXPECT_LT(static_cast<double>(image.size()), 1.3 * static_cast<double>(optimal));
      }
    }
  }
}
