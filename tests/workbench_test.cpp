// Looking inside images through liblzs's C interface: lzs_inspect against
// crafted images and the reference decoder; lzs_decode_salvage and
// lzs_salvage_alloc on an image cut at every position and followed by more
// bytes; lzs_scan_next on containers of images among random bytes and this
// program's own bytes, with the limits on what else it finds; and
// lzs_encode_like with images of both our levels and of a greedy packer of
// the tests' own, after edits that keep the size and edits that change it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "lzs.h"
#include "lzs/c_api.hpp"
#include "lzs/walk.hpp"
#include "tests/support/greedy_packer.hpp"
#include "tests/support/images.hpp"
#include "tests/support/like.hpp"
#include "tests/support/reference.hpp"
#include "tests/support/stream_encode.hpp"

namespace {

using testdata::Bytes;
using testdata::Kept;
using testdata::Like;
using testdata::Liked;
using testdata::PayloadBuilder;
using testdata::RandomBytes;
using testdata::WithHeader;
using testdata::Words;

using lzs::Error;

Bytes Reference(const Bytes& image) { return ReferenceDecoded(image); }

Bytes Pack(const Bytes& data, int level) {
  size_t n = 0;
  Bytes image = testdata::Encoded(data, level, &n);
  EXPECT_FALSE(lzs_is_error(n)) << lzs_error_name(n);
  return image;
}

// Bytes like a program's data: records of small numbers, zeros between
// them, and now and then a word.
Bytes Records(size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const std::uint32_t value = rng() % (rng() % 4 == 0 ? 65536 : 300);
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
    if (rng() % 16 == 0) {
      const Bytes words = Words(8 + rng() % 24, rng());
      out.insert(out.end(), words.begin(), words.end());
    }
  }
  out.resize(size);
  return out;
}

// Text and records in turns, as a file of a program's resources has them.
Bytes Mixed(size_t size, std::uint32_t seed) {
  return testdata::Pieces(size, seed, [](std::mt19937& rng) {
    const size_t piece = 2000 + rng() % 30000;
    return rng() % 2 == 0 ? Words(piece, rng()) : Records(piece, rng());
  });
}

// The packers whose images the scan must find and lzs_encode_like must
// reproduce: both levels of ours, and the tests' greedy one.
struct Packer {
  const char* name;
  Bytes (*pack)(const Bytes& data);
};
const Packer Packers[] = {
    {"optimal", [](const Bytes& data) { return Pack(data, LZS_LEVEL_OPTIMAL); }},
    {"fast", [](const Bytes& data) { return Pack(data, LZS_LEVEL_FAST); }},
    {"greedy", [](const Bytes& data) { return PackGreedy(data); }},
};

Bytes Cut(Bytes image, size_t keep) {
  image.resize(keep);
  return image;
}

Bytes Appended(Bytes image, std::initializer_list<std::uint8_t> more) {
  image.insert(image.end(), more);
  return image;
}

// ---- lzs_inspect -----------------------------------------------------------

constexpr unsigned long long NoZero = ~0ull;

TEST(LzsInspect, CraftedImages) {
  const Bytes worked = testdata::WorkedExample;
  const Bytes atStart = PayloadBuilder().Reference(100, 5).Literal('a').Literal('b').Image();
  const Bytes distanceZero = PayloadBuilder().Literals(3).Reference(0, 4).Image();
  const Bytes longest = PayloadBuilder().Literal('a').Reference(1, 18).Reference(1, 18).Image();
  struct Case {
    const char* name;
    Bytes image;
    unsigned long long decoded, groups, literals, references, zeros, firstZero, stoppedAt;
    lzs_status status;
    int cut;
  };
  const Case cases[] = {
      {"worked example", worked, 9, 1, 3, 1, 0, NoZero, 6, LZS_STATUS_OK, 0},
      {"zero window at the start", atStart, 7, 1, 2, 1, 1, 0, 5, LZS_STATUS_OK, 0},
      {"distance 0", distanceZero, 7, 1, 3, 1, 1, 3, 6, LZS_STATUS_OK, 0},
      {"longest copies", longest, 37, 1, 1, 2, 0, NoZero, 6, LZS_STATUS_OK, 0},
      {"cut in a back-reference", Cut(worked, 9), 3, 1, 3, 0, 0, NoZero, 4, LZS_STATUS_TRUNCATED,
       1},
      {"cut after the literals", Cut(worked, 8), 3, 1, 3, 0, 0, NoZero, 4, LZS_STATUS_TRUNCATED, 0},
      {"bytes after the end", Appended(worked, {1, 2, 3}), 9, 1, 3, 1, 0, NoZero, 6,
       LZS_STATUS_TRAILING, 0},
      {"a flag byte alone", WithHeader({0xFF}), 0, 1, 0, 0, 0, NoZero, 0, LZS_STATUS_NOT_AN_IMAGE,
       0},
      {"four bytes", {6, 0, 0, 0}, 0, 0, 0, 0, 0, NoZero, 0, LZS_STATUS_NOT_AN_IMAGE, 0},
      {"a header of 0 and more", Bytes{0, 0, 0, 0, 0xFF, 'a'}, 0, 0, 0, 0, 0, NoZero, 0,
       LZS_STATUS_NOT_AN_IMAGE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lzs_inspection in;
    EXPECT_EQ(lzs_inspect(c.image.data(), c.image.size(), &in), c.decoded);
    EXPECT_EQ(in.status, c.status);
    EXPECT_EQ(in.imageSize, c.image.size());
    EXPECT_EQ(in.decodedSize, c.decoded);
    EXPECT_EQ(in.groups, c.groups);
    EXPECT_EQ(in.literals, c.literals);
    EXPECT_EQ(in.references, c.references);
    EXPECT_EQ(in.zeroReferences, c.zeros);
    if (c.zeros != 0) {
      EXPECT_EQ(in.firstZeroReference, c.firstZero);
    }
    EXPECT_EQ(in.stoppedAt, c.stoppedAt);
    EXPECT_EQ(in.lastItemCut, c.cut);
  }
}

TEST(LzsInspect, HistogramsCoverEveryLengthAndDistance) {
  // 4096 literals, then a back-reference of each length, then one at each
  // distance bucket: 0, 1, 2-3, 4-7, ..., 2048-4095.
  PayloadBuilder items;
  for (int k = 0; k < 4096; ++k) items.Literal(static_cast<std::uint8_t>(k * 7));
  for (std::uint32_t length = 3; length <= 18; ++length) items.Reference(100, length);
  items.Reference(0, 3);
  for (std::uint32_t distance = 1; distance < 4096; distance *= 2) items.Reference(distance, 3);
  const Bytes image = items.Image();
  lzs_inspection in;
  ASSERT_EQ(lzs_inspect(image.data(), image.size(), &in), Reference(image).size());
  for (unsigned k = 0; k < LZS_LENGTH_BUCKETS; ++k) {
    EXPECT_EQ(in.lengthHistogram[k], k == 0 ? 1u + 13u : 1u) << "length " << k + 3;
  }
  for (unsigned k = 0; k < LZS_DISTANCE_BUCKETS; ++k) {
    const unsigned long long expected = k == 7 ? 17 : 1;  // distance 100 is in 64-127
    EXPECT_EQ(in.distanceHistogram[k], expected) << "bucket " << k;
  }
  EXPECT_EQ(in.zeroReferences, 1u);  // distance 0; the window is full by then
  unsigned long long strip = 0;
  for (unsigned k = 0; k < LZS_STRIP_SEGMENTS; ++k) {
    strip += in.stripLiterals[k] + in.stripReferences[k];
  }
  EXPECT_EQ(strip, in.literals + in.references);
}

// Whatever the bytes, the counts agree with the reference decoder's output
// of the image's whole items, and with each other; the smallest image is
// lzs_encode's at LZS_LEVEL_OPTIMAL.
TEST(LzsInspect, AgreesWithTheReferenceDecoder) {
  std::mt19937 rng(2024);
  std::vector<Bytes> images;
  for (size_t length = 1; length < 300; length += 7) {
    images.push_back(WithHeader(RandomBytes(rng, length, length % 2 == 0 ? 256 : 3)));
  }
  for (const Packer& packer : Packers) images.push_back(packer.pack(Mixed(20000, rng())));
  // The decoder's fuzzing corpus: crafted images, whole and damaged.
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(LZS_FUZZ_CORPUS_DIR) / "fuzz_decode")) {
    std::ifstream in(entry.path(), std::ios::binary);
    images.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  for (const Bytes& whole : images) {
    for (const Bytes& image : {whole, Cut(whole, whole.size() * 2 / 3), Appended(whole, {9, 9})}) {
      const size_t end =
          image.size() < 4 ? 4 : std::min<size_t>(image.size(), lzs::ReadHeader(image.data()) + 4u);
      const size_t payload = end - 4;
      const Bytes expected =
          Reference(WithHeader(Bytes(image.begin() + 4, image.begin() + 4 + payload)));
      lzs_inspection in;
      ASSERT_EQ(lzs_inspect(image.data(), image.size(), &in), expected.size());
      unsigned long long copied = 0;
      for (unsigned k = 0; k < LZS_LENGTH_BUCKETS; ++k) copied += in.lengthHistogram[k] * (k + 3);
      EXPECT_EQ(in.literals + copied, expected.size());
      if (expected.empty()) continue;
      EXPECT_EQ(in.smallestImageSize, Pack(expected, LZS_LEVEL_OPTIMAL).size());
    }
  }
}

TEST(LzsInspect, WritesJsonAndSummary) {
  const Bytes worked = testdata::WorkedExample;
  lzs_inspection in;
  ASSERT_EQ(lzs_inspect(worked.data(), worked.size(), &in), 9u);
  const char* name = "a \"b\"\\\x01\xff.lzs";
  std::string json(lzs_inspection_text(&in, name, 1, nullptr, 0), '\0');
  lzs_inspection_text(&in, name, 1, json.data(), json.size() + 1);
  EXPECT_EQ(
      json.substr(0, json.find(",\"strip_literals\"")),
      "{\"file\":\"a \\\"b\\\"\\\\\\u0001\xEF\xBF\xBD.lzs\",\"status\":\"ok\",\"image_size\":"
      "10,\"promised_size\":10,\"decoded_size\":9,\"groups\":1,\"literals\":3,\"references\":1,"
      "\"length_histogram\":[0,0,0,1,0,0,0,0,0,0,0,0,0,0,0,0],\"distance_histogram\":[0,0,1,0,"
      "0,0,0,0,0,0,0,0,0],\"zero_references\":0,\"first_zero_reference\":null,\"smallest_image_"
      "size\":10,\"stopped_at\":6,\"last_item_cut\":false");
  EXPECT_EQ(json.back(), '}');
  // The strip: the literals at payload offsets 1 to 3 and the
  // back-reference at 4, of 6 bytes in 64 pieces.
  for (unsigned k = 0; k < LZS_STRIP_SEGMENTS; ++k) {
    EXPECT_EQ(in.stripLiterals[k], k == 10 || k == 21 || k == 32 ? 1u : 0u) << k;
    EXPECT_EQ(in.stripReferences[k], k == 42 ? 1u : 0u) << k;
  }
  char summary[1024];
  lzs_inspection_text(&in, "w.lzs", 0, summary, sizeof summary);
  const std::string text = summary;
  EXPECT_EQ(text.substr(0, text.find("\n  copy")),
            "w.lzs: an image of 10 bytes that unpacks to 9 bytes\n"
            "  groups: 1, literals: 3, back-references: 1");
  EXPECT_NE(text.find("\n  smallest image (lzs -9): 10 bytes\n"), std::string::npos);
  // Cut to fit, as snprintf.
  char small[8];
  EXPECT_GT(lzs_inspection_text(&in, nullptr, 1, small, sizeof small), sizeof small);
  EXPECT_STREQ(small, "{\"statu");
}

// ---- lzs_decode_salvage, lzs_salvage_alloc --------------------------------

// 37510112 as "37,510,112", as the library writes sizes.
std::string Grouped(size_t value) {
  const std::string digits = std::to_string(value);
  std::string grouped;
  for (size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) grouped += ',';
    grouped += digits[k];
  }
  return grouped;
}

std::string Described(size_t result, const lzs_info& info) {
  char words[256];
  lzs_describe(result, &info, words, sizeof words);
  return words;
}

TEST(LzsSalvage, EveryCutOfAnImage) {
  const Bytes image = Pack(Mixed(3000, 7), LZS_LEVEL_OPTIMAL);
  for (size_t keep = 0; keep <= image.size(); ++keep) {
    SCOPED_TRACE("keep " + std::to_string(keep));
    const Bytes cut = Cut(image, keep);
    Bytes out(lzs_decode_bound(image.size()) + 1);
    lzs_info info;
    const size_t n = lzs_decode_salvage(out.data(), out.size(), cut.data(), cut.size(), &info);
    void* allocated = nullptr;
    lzs_info allocInfo;
    const size_t m = lzs_salvage_alloc(&allocated, cut.data(), cut.size(), SIZE_MAX, nullptr,
                                       nullptr, &allocInfo);
    if (keep <= 4) {
      EXPECT_EQ(n, Error(LZS_ERROR_NOT_AN_IMAGE));
      EXPECT_EQ(m, n);
      std::free(allocated);
      continue;
    }
    const Bytes expected = Reference(WithHeader(Bytes(cut.begin() + 4, cut.end())));
    if (expected.empty()) {
      EXPECT_EQ(n, Error(LZS_ERROR_NO_OUTPUT));
    } else {
      ASSERT_EQ(n, expected.size());
      EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<long>(n)), expected);
      EXPECT_EQ(info.decodedSize, n);
      EXPECT_EQ(info.imageSize, image.size());
      EXPECT_EQ(info.inputSize, keep);
      EXPECT_EQ((info.flags & LZS_INFO_SALVAGED) != 0, keep < image.size());
      ASSERT_EQ(m, n);
      EXPECT_EQ(std::memcmp(allocated, expected.data(), n), 0);
      EXPECT_EQ(allocInfo.flags, info.flags);
    }
    std::free(allocated);
  }
}

TEST(LzsSalvage, BytesAfterTheImageAndWords) {
  const Bytes image = Pack(Words(5000, 3), LZS_LEVEL_FAST);
  const Bytes decoded = Reference(image);
  Bytes longer = image;
  for (int more = 1; more <= 20; ++more) {
    longer.push_back(static_cast<std::uint8_t>(more * 37));
    Bytes out(lzs_decode_bound(longer.size()));
    lzs_info info;
    ASSERT_EQ(lzs_decode_salvage(out.data(), out.size(), longer.data(), longer.size(), &info),
              decoded.size());
    EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), out.begin()));
    EXPECT_EQ(info.flags, LZS_INFO_SALVAGED);
  }
  lzs_info info;
  Bytes out(lzs_decode_bound(longer.size()));
  const size_t n = lzs_decode_salvage(out.data(), out.size(), longer.data(), longer.size(), &info);
  EXPECT_EQ(Described(n, info), "bytes after the end of the image (" + Grouped(longer.size()) +
                                    " bytes; the image is " + Grouped(image.size()) +
                                    "); kept the image's 5,000 bytes");
  const Bytes cut = Cut(image, 1000);
  const size_t m = lzs_decode_salvage(out.data(), out.size(), cut.data(), cut.size(), &info);
  EXPECT_EQ(Described(m, info), "cut short: the image is shorter than its header says (1,000 of " +
                                    Grouped(image.size()) +
                                    " bytes); kept what its whole items give, " + Grouped(m) +
                                    " bytes");
  // A whole image is no salvage: lzs_decode's result, no flag, no words.
  EXPECT_EQ(lzs_decode_salvage(out.data(), out.size(), image.data(), image.size(), &info),
            decoded.size());
  EXPECT_EQ(info.flags, 0u);
  EXPECT_EQ(Described(decoded.size(), info), "no error");
  // Arguments, as lzs_decode checks them.
  EXPECT_EQ(lzs_decode_salvage(out.data(), 3, image.data(), image.size(), &info),
            Error(LZS_ERROR_DST_TOO_SMALL));
  EXPECT_EQ(lzs_decode_salvage(longer.data(), longer.size(), longer.data(), longer.size(), nullptr),
            Error(LZS_ERROR_BAD_ARGUMENT));
  EXPECT_EQ(lzs_decode_salvage(nullptr, 0, nullptr, 5, nullptr), Error(LZS_ERROR_BAD_ARGUMENT));
}

// ---- lzs_scan_next ---------------------------------------------------------

struct Found {
  std::vector<lzs_finding> high;
  size_t low = 0;
};

Found Scan(const Bytes& data) {
  Found found;
  size_t pos = 0;
  lzs_finding finding;
  for (;;) {
    const size_t r = lzs_scan_next(data.data(), data.size(), &pos, &finding);
    EXPECT_FALSE(lzs_is_error(r)) << lzs_error_name(r);
    if (r != 1) break;
    if (finding.confidence == LZS_CONFIDENCE_HIGH) {
      found.high.push_back(finding);
    } else {
      ++found.low;
    }
  }
  EXPECT_EQ(pos, data.size());
  return found;
}

// Bytes of ordinary programs, repeated up to `size`: the system's own, the
// same for every build and every target of the tests (a program's own
// bytes change with each build, and so would what the scan makes of them).
Bytes ProgramBytes(size_t size) {
  Bytes bytes;
  for (const char* name : {"/usr/bin/bash", "/usr/bin/ls", "/usr/bin/cp", "/usr/bin/tar"}) {
    std::ifstream file(name, std::ios::binary);
    bytes.insert(bytes.end(), std::istreambuf_iterator<char>(file),
                 std::istreambuf_iterator<char>());
  }
  while (!bytes.empty() && bytes.size() < size) {
    bytes.insert(bytes.end(), bytes.begin(), bytes.begin() + static_cast<long>(bytes.size()));
  }
  bytes.resize(size);
  return bytes;
}

// Images of every packer and kind of data, from 1 KiB up, at random offsets
// among other bytes: each is found, high, at its offset and size, and
// nothing else is high. Among programs' bytes, the few bytes before an
// image often read as a shorter image that falls in step with its items
// (the placements of seeds 1 and 3 put such bytes before an image).
TEST(LzsScan, FindsEveryImageInContainers) {
  std::mt19937 backgrounds(99);
  const Bytes random = RandomBytes(backgrounds, 4 << 20);
  const Bytes programs = ProgramBytes(4 << 20);
  const struct {
    const char* name;
    const Bytes& background;
    unsigned seed;  // of the images and their places
  } containers[] = {
      {"random bytes", random, 99},
      {"programs' bytes", programs, 1},
      {"programs' bytes", programs, 3},
  };
  for (const auto& container : containers) {
    SCOPED_TRACE(testing::Message() << container.name << ", seed " << container.seed);
    std::mt19937 rng(container.seed);
    Bytes data = container.background;
    struct Placed {
      size_t offset;
      size_t imageSize;
      size_t decodedSize;
    };
    std::vector<Placed> placed;
    size_t at = 0;
    for (int n = 0; n < 60; ++n) {
      const size_t size = 600 + rng() % 30000;
      const Bytes content = n % 3 == 0   ? Words(size, rng())
                            : n % 3 == 1 ? Records(size, rng())
                                         : RandomBytes(rng, size, n % 2 == 0 ? 256 : 16);
      const Bytes image = Packers[n % 3].pack(content);
      if (image.size() < LZS_SCAN_HIGH_IMAGE) continue;
      at += 1 + rng() % 50000;
      if (at + image.size() > data.size()) break;
      std::copy(image.begin(), image.end(), data.begin() + static_cast<long>(at));
      placed.push_back({at, image.size(), content.size()});
      at += image.size();
    }
    ASSERT_GT(placed.size(), 40u);
    const Found found = Scan(data);
    size_t matched = 0;
    for (const Placed& p : placed) {
      const auto hit = std::find_if(found.high.begin(), found.high.end(),
                                    [&](const lzs_finding& f) { return f.offset == p.offset; });
      if (hit == found.high.end()) {
        ADD_FAILURE() << "no high finding at " << p.offset;
        continue;
      }
      ++matched;
      EXPECT_EQ(hit->imageSize, p.imageSize);
      EXPECT_EQ(hit->decodedSize, p.decodedSize);
    }
    EXPECT_EQ(found.high.size(), matched) << "high findings that are no image placed";
  }
}

// What the scan finds where no image was put: the limits of lzs(1)'s
// promise, 10 MB of random bytes without any high finding, and of ordinary
// bytes at most one.
TEST(LzsScan, FalseFindingsStayWithinTheLimits) {
  std::mt19937 rng(5);
  const struct {
    const char* name;
    Bytes data;
    size_t highAtMost;
  } cases[] = {
      {"10 MB of random bytes", RandomBytes(rng, 10'000'000), 0},
      {"10 MB of programs' bytes", ProgramBytes(10'000'000), 1},
      {"10 MB of text", Words(10'000'000, 17), 0},
  };
  for (const auto& c : cases) {
    const Found found = Scan(c.data);
    EXPECT_LE(found.high.size(), c.highAtMost) << c.name;
  }
}

TEST(LzsScan, EdgesAndArguments) {
  const Bytes image = Pack(Mixed(6000, 1), LZS_LEVEL_OPTIMAL);
  ASSERT_GE(image.size(), LZS_SCAN_HIGH_IMAGE);
  // An image that ends exactly at the end, and one a byte short of it.
  Found found = Scan(image);
  ASSERT_EQ(found.high.size(), 1u);
  EXPECT_EQ(found.high[0].offset, 0u);
  EXPECT_TRUE(Scan(Cut(image, image.size() - 1)).high.empty());
  // The loop's positions: past a high finding, the scan goes on at its end.
  Bytes twice = image;
  twice.insert(twice.end(), image.begin(), image.end());
  size_t pos = 0;
  lzs_finding finding;
  ASSERT_EQ(lzs_scan_next(twice.data(), twice.size(), &pos, &finding), 1u);
  EXPECT_EQ(pos, image.size());
  ASSERT_EQ(lzs_scan_next(twice.data(), twice.size(), &pos, &finding), 1u);
  EXPECT_EQ(finding.offset, image.size());
  char line[256];
  lzs_finding_text(&finding, "c.bin", 1, line, sizeof line);
  EXPECT_EQ(std::string(line), "{\"file\":\"c.bin\",\"offset\":" + std::to_string(image.size()) +
                                   ",\"image_size\":" + std::to_string(image.size()) +
                                   ",\"decoded_size\":6000,\"confidence\":\"high\"}");
  lzs_finding_text(&finding, nullptr, 0, line, sizeof line);
  EXPECT_EQ(std::string(line), "at " + Grouped(image.size()) + ": an image of " +
                                   Grouped(image.size()) +
                                   " bytes that unpacks to 6,000 bytes, high confidence");
  EXPECT_EQ(lzs_scan_next(twice.data(), twice.size(), &pos, &finding), 0u);
  EXPECT_EQ(pos, twice.size());
  pos = twice.size() + 1;
  EXPECT_EQ(lzs_scan_next(twice.data(), twice.size(), &pos, &finding),
            Error(LZS_ERROR_BAD_ARGUMENT));
  pos = 0;
  EXPECT_EQ(lzs_scan_next(nullptr, 5, &pos, &finding), Error(LZS_ERROR_BAD_ARGUMENT));
  EXPECT_EQ(lzs_scan_next(twice.data(), twice.size(), nullptr, &finding),
            Error(LZS_ERROR_BAD_ARGUMENT));
  EXPECT_EQ(lzs_scan_next(nullptr, 0, &pos, &finding), 0u);
}

// ---- lzs_encode_like -------------------------------------------------------

// The bytes after the header that two images have in common from there on.
size_t CommonPayload(const Bytes& a, const Bytes& b) {
  size_t n = lzs::HeaderSize;
  while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
  return n - lzs::HeaderSize;
}

// The payload offset of the item of image that writes output index at.
size_t PayloadOffsetOf(const Bytes& image, std::uint64_t at) {
  const std::uint8_t* in = image.data() + lzs::HeaderSize;
  lzs::WalkState state;
  size_t offset = 0;
  lzs::WalkItems(in, image.data() + image.size(), true, state, [&](const lzs::Item& item) {
    if (item.output + item.length > at) return lzs::WalkStep::Stop;
    offset = item.offset;
    return lzs::WalkStep::Next;
  });
  return offset;
}

TEST(LzsEncodeLike, ReproducesAndEditsImagesOfEveryPacker) {
  constexpr size_t Size = 1 << 20;
  const Bytes data = Mixed(Size, 31);
  for (const Packer& packer : Packers) {
    SCOPED_TRACE(packer.name);
    const Bytes orig = packer.pack(data);
    const Liked same = Like(data, orig);
    EXPECT_EQ(same.image, orig);
    EXPECT_EQ(same.reused, same.items);

    std::mt19937 rng(8);
    for (int edit = 0; edit < 3; ++edit) {
      // 100 bytes changed, as a string or a record in a file is.
      Bytes edited = data;
      const size_t at = 1000 + rng() % (Size - 2000);
      const Bytes other = Mixed(100, rng());
      std::copy(other.begin(), other.end(), edited.begin() + static_cast<long>(at));
      const Liked liked = Like(edited, orig);
      ASSERT_EQ(Reference(liked.image), edited) << "at " << at;
      // Of the image's bytes after its header, 90 % stand unchanged; the
      // header too where the parse could keep the image's size, which a
      // packer less thorough than ours leaves room for.
      EXPECT_GE(Kept(liked.image, orig, lzs::HeaderSize), 0.9) << "at " << at;
      if (packer.pack != Packers[0].pack) {
        EXPECT_EQ(liked.image.size(), orig.size()) << "at " << at;
      }
      if (liked.image.size() == orig.size()) {
        EXPECT_GE(Kept(liked.image, orig, 0), 0.9) << "at " << at;
      }
    }
    for (const long change : {100L, -100L, 7L}) {
      Bytes edited = data;
      const auto at = static_cast<long>(1000 + rng() % (Size - 2000));
      if (change > 0) {
        edited.insert(edited.begin() + at, static_cast<size_t>(change), 'x');
      } else {
        edited.erase(edited.begin() + at, edited.begin() + at - change);
      }
      const Liked liked = Like(edited, orig);
      ASSERT_EQ(Reference(liked.image), edited) << "change " << change << " at " << at;
      EXPECT_LE(liked.image.size(), Pack(edited, LZS_LEVEL_FAST).size()) << "change " << change;
      // orig's bytes before the edit stand, up to its group there, unless
      // orig is larger than the fast level's image: then an image that
      // keeps them may be too, and the spans parsed anew take them over.
      if (orig.size() <= Pack(data, LZS_LEVEL_FAST).size()) {
        EXPECT_GE(CommonPayload(liked.image, orig) + 17, PayloadOffsetOf(orig, at)) << change;
      }
    }
  }
}

// Where a payload's last flag byte is, and how many items it has.
struct Groups {
  size_t lastFlags = 0;
  size_t items = 0;
};
Groups GroupsOf(const Bytes& payload) {
  Groups groups;
  const std::uint8_t* in = payload.data();
  lzs::WalkState state;
  lzs::WalkItems(in, in + payload.size(), true, state, [&](const lzs::Item& item) {
    if (groups.items++ % 8 == 0) groups.lastFlags = item.offset - 1;
    return lzs::WalkStep::Next;
  });
  return groups;
}

// orig may end as no packer of ours ends an image: with flag bits set above
// its last item, in a flag byte without items, or one byte into a
// back-reference. The same content gives those bytes back; other content
// decodes right.
TEST(LzsEncodeLike, KeepsWhatOrigHasAfterItsLastItem) {
  for (const size_t size : {3000u, 3001u, 3002u, 3003u, 3005u, 3008u, 3013u}) {
    const Bytes data = Mixed(size, 4);
    const Bytes packed = Pack(data, LZS_LEVEL_OPTIMAL);
    const Bytes payload(packed.begin() + 4, packed.end());
    const Groups groups = GroupsOf(payload);
    const unsigned used = groups.items % 8;
    std::vector<Bytes> odd;
    if (used == 0) {
      // A flag byte alone (its first item a back-reference), and with one
      // byte of that back-reference.
      for (const Bytes& tail : {Bytes{0xFE}, Bytes{0xFE, 0x12}}) {
        Bytes bytes = payload;
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        odd.push_back(bytes);
      }
    } else {
      // Flag bits set above the last item, the next one's left a
      // back-reference; with one byte of it.
      Bytes bytes = payload;
      bytes[groups.lastFlags] =
          static_cast<std::uint8_t>(bytes[groups.lastFlags] | (0xFEu << used & 0xFFu));
      odd.push_back(bytes);
      bytes.push_back(0x12);
      odd.push_back(bytes);
    }
    Bytes edited = data;
    edited[size / 2] = '#';
    for (const Bytes& oddPayload : odd) {
      const Bytes orig = WithHeader(oddPayload);
      ASSERT_EQ(Reference(orig), data);
      EXPECT_EQ(Like(data, orig).image, orig) << size;
      EXPECT_EQ(Reference(Like(edited, orig).image), edited) << size;
    }
  }
}

TEST(LzsEncodeLike, Errors) {
  const Bytes data = Words(2000, 9);
  const Bytes orig = Pack(data, LZS_LEVEL_FAST);
  Bytes dst(lzs_encode_bound(data.size()) + 2, 0xA5);
  auto like = [&](const Bytes& src, const Bytes& image, size_t capacity) {
    return lzs_encode_like(dst.data(), capacity, src.data(), src.size(), image.data(), image.size(),
                           nullptr, nullptr);
  };
  EXPECT_EQ(like(data, Cut(orig, orig.size() - 1), dst.size()), Error(LZS_ERROR_TRUNCATED));
  EXPECT_EQ(like(data, Appended(orig, {0}), dst.size()), Error(LZS_ERROR_TRAILING_DATA));
  EXPECT_EQ(like(data, {1, 0, 0}, dst.size()), Error(LZS_ERROR_NOT_AN_IMAGE));
  EXPECT_EQ(like({}, orig, dst.size()), Error(LZS_ERROR_EMPTY_INPUT));
  EXPECT_EQ(like(data, orig, orig.size() - 1), Error(LZS_ERROR_DST_TOO_SMALL));
  EXPECT_EQ(dst[0], 0xA5);
  EXPECT_EQ(lzs_encode_like(dst.data(), dst.size(), dst.data() + 1, 10, orig.data(), orig.size(),
                            nullptr, nullptr),
            Error(LZS_ERROR_BAD_ARGUMENT));
  EXPECT_EQ(lzs_encode_like(nullptr, 0, data.data(), data.size(), nullptr, 4, nullptr, nullptr),
            Error(LZS_ERROR_BAD_ARGUMENT));
}

}  // namespace
