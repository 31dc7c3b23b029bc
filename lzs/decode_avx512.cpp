// The group decoder built for AVX-512 (F, BW and VL) and BMI2, whatever the
// build's flags; run only where cpuid finds those and the system saves the
// 512-bit registers. It takes a group as the vector loops of decode_vector.hpp do
// (the eight items unpacked together in 16-bit lanes, then eight 32-byte
// moves), with what AVX-512 adds: the flag byte is the mask of literals,
// the test for back-references that overlap their own output gives a mask
// at once, and the sixteen addresses of the moves are made in two 512-bit
// registers.

#include "lzs/decode_paths.hpp"

#ifdef LZS_X86_PATHS

#include <immintrin.h>

LZS_TARGET_BEGIN("avx2,bmi2,avx512f,avx512bw,avx512vl")

#include "lzs/decode_vector.hpp"

namespace lzs {

namespace {

// Every lane of eight (the unmasked widening instructions leave GCC 12 to
// warn of the undefined value its headers merge into).
constexpr __mmask8 AllLanes = 0xFF;

class Avx512Group {
 public:
  [[gnu::always_inline]] const std::uint8_t* Expand(std::uint32_t flags, const std::uint8_t* items,
                                                    std::uint8_t* outputArea,
                                                    std::size_t& outIndex) {
    const std::size_t i = outIndex;
    const auto literal = static_cast<__mmask8>(flags);
    // Each item's two bytes b0, b1 in its 16-bit lane (see GroupLayouts).
    const GroupLayoutTable::Layout& layout = GroupLayouts.groups[flags];
    const __m128i start = _mm_load_si128(reinterpret_cast<const __m128i*>(layout.start));
    const __m128i fields =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(items)),
                         _mm_load_si128(reinterpret_cast<const __m128i*>(layout.gather)));
    // ItemLength, 1 for a literal; the output offsets, a prefix sum of it.
    const __m128i copyLength = _mm_add_epi16(
        _mm_and_si128(_mm_srli_epi16(fields, 8), _mm_set1_epi16(0x0F)), _mm_set1_epi16(MinCopy));
    const __m128i length = _mm_mask_mov_epi16(copyLength, literal, _mm_set1_epi16(1));
    __m128i outEnd = _mm_add_epi16(length, _mm_slli_si128(length, 2));
    outEnd = _mm_add_epi16(outEnd, _mm_slli_si128(outEnd, 4));
    outEnd = _mm_add_epi16(outEnd, _mm_slli_si128(outEnd, 8));
    const __m128i outStart = _mm_sub_epi16(outEnd, length);
    // ItemPosition, and ItemDistance: 16-bit lanes wrap at a multiple of
    // WindowSize, so the low 12 bits are the distance.
    const __m128i position =
        _mm_or_si128(_mm_and_si128(fields, _mm_set1_epi16(0xFF)),
                     _mm_and_si128(_mm_srli_epi16(fields, 4), _mm_set1_epi16(0xF00)));
    const __m128i here =
        _mm_add_epi16(_mm_set1_epi16(static_cast<short>(i - WindowBias)), outStart);
    const __m128i distance =
        _mm_and_si128(_mm_sub_epi16(here, position), _mm_set1_epi16(WindowMask));
    // Back-references that read bytes they write themselves.
    const __mmask8 overlapping =
        _mm_mask_cmpgt_epi16_mask(static_cast<__mmask8>(~literal), copyLength, distance);

    // The moves' addresses: an output is its offset plus `out`; a source
    // lies `distance` bytes before its output, or for a literal at its
    // offset from `items`. (Unaligned stores, which cost nothing here: a
    // compiler for Windows may not align the stack to 64 bytes.)
    std::uint8_t* out = outputArea + i;
    const __m512i base = _mm512_set1_epi64(reinterpret_cast<long long>(out));
    const __m512i to = _mm512_add_epi64(base, _mm512_maskz_cvtepu16_epi64(AllLanes, outStart));
    const __m512i fromOutput = _mm512_add_epi64(
        base, _mm512_maskz_cvtepi16_epi64(AllLanes, _mm_sub_epi16(outStart, distance)));
    const __m512i fromItems =
        _mm512_add_epi64(_mm512_set1_epi64(reinterpret_cast<long long>(items)),
                         _mm512_maskz_cvtepu16_epi64(AllLanes, start));
    _mm512_storeu_si512(outputs_, to);
    _mm512_storeu_si512(sources_, _mm512_mask_mov_epi64(fromOutput, literal, fromItems));

    outIndex = i + static_cast<std::uint16_t>(_mm_extract_epi16(outEnd, 7));
    const std::uint8_t* const next = items + ItemBytes.bytes[flags];
    // The addresses are read back from memory, one load each.
    __asm__("" : : "r"(this) : "memory");
    if (overlapping != 0) {
      // The same moves, except for the items that overlap their output.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(outOffset_), outStart);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(distance_), distance);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(length_), copyLength);
#pragma GCC unroll 8
      for (int item = 0; item < 8; ++item) {
        if ((overlapping >> item & 1) != 0) {
          CopyShort(outputArea, i + outOffset_[item], distance_[item], length_[item]);
        } else {
          Move(item);
        }
      }
      return next;
    }
#pragma GCC unroll 8
    for (int item = 0; item < 8; ++item) Move(item);
    return next;
  }

 private:
  // One 32-byte load and store.
  void Move(int item) const {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(outputs_[item]),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sources_[item])));
  }

  alignas(64) const std::uint8_t* sources_[8];
  alignas(64) std::uint8_t* outputs_[8];
  alignas(16) std::uint16_t outOffset_[8];
  alignas(16) std::uint16_t distance_[8];
  alignas(16) std::uint16_t length_[8];
};

}  // namespace

FastLoop Avx512Loop() { return DecodeGroupsWith<Avx512Group>; }

}  // namespace lzs

LZS_TARGET_END

#endif
