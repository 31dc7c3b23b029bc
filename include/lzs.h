/* liblzs: pack and unpack LZS images in memory or as a stream
 *
 * An LZS image is a 4-byte little-endian length of the rest, then an LZSS
 * stream of flag bytes, literal bytes and two-byte back-references into a
 * 4,096-byte window. The format has no magic number and no checksum: any
 * bytes whose header gives the size of the rest decode to something.
 *
 * Every call is bounded: it reads only src/image[0, size) and writes only
 * dst[0, dstCapacity). Calls that return size_t return either a size or an
 * error code; test with lzs_is_error() and describe with lzs_error_name(),
 * or with the sizes with lzs_describe(). There is no global state: calls
 * may run on any number of threads at once, each lzs_encoder and
 * lzs_dstream used by one thread at a time. Decoding allocates nothing, but
 * in lzs_decode_alloc(). The library needs the C library alone, not the C++
 * runtime: liblzs.so.1 needs only libc.so.6, a static link adds no
 * -lstdc++, and on Windows lzs.dll imports only KERNEL32 and msvcrt.
 *
 * This header is the library's manual: tools/lzs_header.py makes lzs(3)
 * from its comments.
 *
 * LIBRARY
 *
 * liblzs (-llzs, pkg-config lzs or CMake's find_package(lzs)); on Windows,
 * define LZS_DLL_IMPORT when linking the import library of lzs.dll.
 *
 * RETURN VALUE
 *
 * A size, or an error code (see ERRORS). lzs_dstream_create() and
 * lzs_encoder_create() return NULL when out of memory. */
#ifndef LZS_H
#define LZS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The calls are the library's only exported symbols: the library is built
 * with everything else hidden, as a shared library and as liblzs.a (which a
 * shared object linking it then exports nothing else of). A program that
 * compiles the library's sources into itself and exports none of it (the
 * Python module) defines LZS_API as nothing. */
#if defined(LZS_API)
#elif defined(_WIN32) && defined(LZS_BUILDING_SHARED)
#define LZS_API __declspec(dllexport)
#elif defined(_WIN32) && defined(LZS_DLL_IMPORT)
#define LZS_API __declspec(dllimport) /* a program linked with lzs.dll's import library */
#elif defined(__GNUC__) && !defined(_WIN32)
#define LZS_API __attribute__((visibility("default")))
#else
#define LZS_API
#endif

#define LZS_VERSION_MAJOR 1
#define LZS_VERSION_MINOR 1
#define LZS_VERSION_PATCH 0
#define LZS_VERSION_NUMBER (LZS_VERSION_MAJOR * 10000 + LZS_VERSION_MINOR * 100 + LZS_VERSION_PATCH)
#define LZS_QUOTE(text) #text
#define LZS_EXPAND_AND_QUOTE(macro) LZS_QUOTE(macro)
#define LZS_VERSION_STRING                \
  LZS_EXPAND_AND_QUOTE(LZS_VERSION_MAJOR) \
  "." LZS_EXPAND_AND_QUOTE(LZS_VERSION_MINOR) "." LZS_EXPAND_AND_QUOTE(LZS_VERSION_PATCH)

/* Version
 *
 * The version of the library actually linked: major*10000 + minor*100 +
 * patch, and as "major.minor.patch" (LZS_VERSION_NUMBER and
 * LZS_VERSION_STRING give the header's). */
LZS_API unsigned lzs_version_number(void);
LZS_API const char* lzs_version_string(void);

/* Errors
 *
 * A call returns (size_t)-code; lzs_get_error() gives the code back (LZS_OK
 * for a size). An image is accepted only when its header is its size minus
 * 4: TRUNCATED and TRAILING_DATA tell the two ways it can differ.
 *
 * LZS_ERRORS is the one list of the errors: X(NAME, code, words, when) for
 * each, the code's name in lzs_error (LZS_ERROR_NAME), its words
 * (lzs_error_name) and when it comes. The codes run from 1 without a gap and
 * never change. Bindings read the list at run time (lzs_error_symbol and
 * lzs_error_name over the codes from 1 until lzs_get_error gives LZS_OK) or
 * have their copies made from it (tools/lzs_header.py). */
#define LZS_ERRORS(X)                                                                           \
  X(NOT_AN_IMAGE, 1, "not an LZS image",                                                        \
    "4 bytes or fewer: no room for any item (a header of 0 among them); "                       \
    "a stream whose input ended inside the header")                                             \
  X(TRUNCATED, 2, "cut short: the image is shorter than its header says",                       \
    "the image is shorter than its header says; a stream whose input ended before the image's " \
    "end")                                                                                      \
  X(NO_OUTPUT, 3, "the image yields no byte", "the payload yields no byte")                     \
  X(DST_TOO_SMALL, 4, "destination buffer too small",                                           \
    "dstCapacity is below what the call needs; a stream's output still waits")                  \
  X(INPUT_TOO_LARGE, 5, "input too large",                                                      \
    "encode: above LZS_ENCODE_SIZE_MAX, or in a stream an image past LZS_IMAGE_SIZE_MAX; "      \
    "decode: a size that a size_t cannot return; "                                              \
    "lzs_decode_alloc: above maxOutput")                                                        \
  X(OUT_OF_MEMORY, 6, "out of memory",                                                          \
    "encode: the workspace could not be allocated; lzs_decode_alloc: no room for the output")   \
  X(EMPTY_INPUT, 7, "empty input", "encode: no image can hold zero bytes")                      \
  X(BAD_ARGUMENT, 8, "bad argument",                                                            \
    "a null pointer with a size, dst overlapping the image, stream positions past their "       \
    "buffers")                                                                                  \
  X(TRAILING_DATA, 9, "bytes after the end of the image",                                       \
    "the image is longer than its header says; in a stream, input past the image's end")        \
  X(BAD_LEVEL, 10, "unknown level: 1 is fast, 9 the smallest image, 0 the default",             \
    "encode: a level other than LZS_LEVEL_DEFAULT, LZS_LEVEL_FAST and LZS_LEVEL_OPTIMAL")

#define LZS_ERROR_ENUM_(name, code, words, when) LZS_ERROR_##name = code,
#define LZS_ERROR_COUNT_(name, code, words, when) +1
typedef enum {
  LZS_OK = 0,
  LZS_ERRORS(LZS_ERROR_ENUM_)                         /* LZS_ERROR_NOT_AN_IMAGE = 1, ... */
  LZS_ERROR_MAX_CODE = 0 LZS_ERRORS(LZS_ERROR_COUNT_) /* the last code */
} lzs_error;
#undef LZS_ERROR_ENUM_
#undef LZS_ERROR_COUNT_

/* Whether a result is an error (1) or a size (0), and its code: LZS_OK for
 * a size. */
LZS_API unsigned lzs_is_error(size_t code);
LZS_API lzs_error lzs_get_error(size_t code);
/* A short English description (the words of LZS_ERRORS); "no error" for a
 * size. Never NULL. */
LZS_API const char* lzs_error_name(size_t code);
/* The code's name in lzs_error: "LZS_ERROR_TRUNCATED", or "LZS_OK" for a
 * size. Never NULL. */
LZS_API const char* lzs_error_symbol(size_t code);

/* Sizes and limits
 *
 * The image format's sizes: the header's length, the largest image (a
 * 32-bit header gives the length of the rest, 4 GiB and 3 bytes in all),
 * and the most one payload byte can yield (a two-byte back-reference copies
 * at most 18). */
#define LZS_HEADER_SIZE 4
#define LZS_IMAGE_SIZE_MAX (0xFFFFFFFFull + LZS_HEADER_SIZE)
#define LZS_EXPANSION_MAX 9

/* Program limits that are not the format's. The format allows any image up
 * to LZS_IMAGE_SIZE_MAX; these are limits of one program or of the encoder.
 *
 * The largest image the lzs-unpack program takes, 8 MiB (8,388,608 bytes):
 * it reads its input whole into a block ten times that size. The library
 * itself has no such limit; a packer that makes files for that program
 * checks against it. */
#define LZS_UNPACK_IMAGE_MAX ((size_t)8 << 20)
/* The largest input lzs_encode takes, 2 GiB: a limit of the one-shot call,
 * which holds the input and its image whole. lzs_encode_stream takes any
 * input whose image fits the format. */
#define LZS_ENCODE_SIZE_MAX ((size_t)1 << 31)

/* Decoding a whole image
 *
 * The window starts zero-filled, so a back-reference before the start
 * copies zeros; a back-reference of distance 0 names the byte about to be
 * written and copies zeros too; an item cut off at the end of the image is
 * dropped. An image that yields no byte is an error. */

/* Decodes the whole image (imageSize bytes, header included) into dst;
 * returns the decoded size, or an error: LZS_ERROR_NOT_AN_IMAGE (imageSize
 * 4 or less), LZS_ERROR_TRUNCATED (the header is above imageSize - 4),
 * LZS_ERROR_TRAILING_DATA (below it), LZS_ERROR_NO_OUTPUT (the payload
 * yields no byte), LZS_ERROR_DST_TOO_SMALL (dstCapacity is below the
 * decoded size; dst[0, dstCapacity) may then hold part of the output),
 * LZS_ERROR_BAD_ARGUMENT (below). The decoder copies
 * in wide blocks: on success the bytes of dst between the returned size and
 * dstCapacity may have been written too, and hold nothing of use. dst and
 * image must not overlap (LZS_ERROR_BAD_ARGUMENT). */
LZS_API size_t lzs_decode(void* dst, size_t dstCapacity, const void* image, size_t imageSize);

/* The exact size lzs_decode would return (or its error, but never
 * LZS_ERROR_DST_TOO_SMALL), from a scan of the flags and lengths alone;
 * writes nothing. A size that a size_t cannot return (where it has 32 bits)
 * is LZS_ERROR_INPUT_TOO_LARGE. */
LZS_API size_t lzs_decoded_size(const void* image, size_t imageSize);

/* The most bytes lzs_decode can yield for an image of imageSize bytes:
 * LZS_EXPANSION_MAX per payload byte; 0 when imageSize is LZS_HEADER_SIZE or
 * less, above LZS_IMAGE_SIZE_MAX, or the bound is not below the error codes.
 * A destination of that capacity never gives LZS_ERROR_DST_TOO_SMALL;
 * lzs_decoded_size gives the exact size instead, at the cost of a scan. */
LZS_API size_t lzs_decode_bound(size_t imageSize);

/* The size of the image at the start of src, as its header says:
 * LZS_HEADER_SIZE plus the header's value. Reads only the header, so src may
 * be a larger buffer holding the image and more after it. Errors:
 * LZS_ERROR_NOT_AN_IMAGE when srcSize is below LZS_HEADER_SIZE,
 * LZS_ERROR_TRUNCATED when that size runs past srcSize. */
LZS_API size_t lzs_image_length(const void* src, size_t srcSize);

/* What a call learnt, in words
 *
 * What a call learnt of an image or a stream (lzs_image_info,
 * lzs_check_header, lzs_dstream_end, lzs_decode_alloc), and what
 * lzs_describe puts in words. The calls fill it whole; the caller sets
 * limitName and flags, where they apply, before lzs_describe. */
typedef struct {
  size_t decodedSize;           /* what lzs_decode returns for the image; for
                                   a stream, the output given so far;
                                   lzs_decode_alloc: also the size above its
                                   maxOutput */
  int lastItemCut;              /* 1 when the image (or the input) ends one byte
                                   into a back-reference, which decoding drops;
                                   else 0 */
  unsigned long long imageSize; /* LZS_HEADER_SIZE plus the header's value: the
                                   size the image should have; 0 when no whole
                                   header was seen */
  unsigned long long inputSize; /* the bytes given: imageSize, or the bytes a
                                   stream took */
  unsigned long long sizeLimit; /* a limit that a size went past
                                   (LZS_ERROR_INPUT_TOO_LARGE): the most bytes
                                   the output may have (lzs_decode_alloc's
                                   maxOutput), or with LZS_INFO_INPUT_LIMIT the
                                   input; 0 for none */
  const char* limitName;        /* how the caller names that limit, for
                                   lzs_describe ("maxOutputSize"); NULL for
                                   "the limit" */
  unsigned flags;               /* LZS_INFO_* below, for lzs_describe */
} lzs_info;

/* lzs_info's flags: LZS_INFO_INPUT_PARTIAL, inputSize counts only the input
 * read before the error, and there may be more; LZS_INFO_PACKING, the
 * result is of packing (lzs_encode); LZS_INFO_INPUT_LIMIT, sizeLimit limits
 * the input, not the output; LZS_INFO_SALVAGED, set by lzs_decode_salvage
 * and lzs_salvage_alloc (or by a caller that kept a stream's output), the
 * input was not a whole image and decodedSize bytes of output were kept
 * from it. */
#define LZS_INFO_INPUT_PARTIAL 1u
#define LZS_INFO_PACKING 2u
#define LZS_INFO_INPUT_LIMIT 4u
#define LZS_INFO_SALVAGED 8u

/* Writes the description of a call's result, sizes included, into buf[0,
 * cap) with a terminating NUL (cut to fit), and returns its length without
 * the NUL: as snprintf, a length of cap or more means it was cut. buf may be
 * NULL when cap is 0. These are the words lzs prints after a file's name,
 * and every binding's message: the error's name (lzs_error_name, "no error"
 * for a size, also when info is NULL), with what info tells:
 *  - LZS_ERROR_TRUNCATED: "... (3,609 of 10,004 bytes)" (inputSize of
 *    imageSize); but when the header promises more than 64 times the bytes
 *    there are, "probably not an LZS image (its header promises
 *    3,364,354,902 bytes; there are 3,609)": the format has no magic number,
 *    and the header of bytes that are no image promises some 2 GiB;
 *  - LZS_ERROR_TRAILING_DATA: "... (10,010 bytes; the image is 10,004)",
 *    "(at least 10,010 bytes; ...)" with LZS_INFO_INPUT_PARTIAL;
 *  - LZS_ERROR_NOT_AN_IMAGE with an inputSize above LZS_IMAGE_SIZE_MAX:
 *    "not an LZS image: larger than the largest, 4,294,967,299 bytes";
 *  - LZS_ERROR_INPUT_TOO_LARGE with a sizeLimit: "input too large: it would
 *    unpack to 5,000 bytes, above maxOutputSize (4,096)" (decodedSize,
 *    limitName, sizeLimit), or "input too large: 5,000 bytes, above ..."
 *    (inputSize) with LZS_INFO_INPUT_LIMIT; without one, where size_t has
 *    32 bits, "input too large: it would unpack to more than 4,294,967,285
 *    bytes, the most a 32-bit module returns";
 *  - with LZS_INFO_PACKING, as lzs says it of a file it cannot pack: "is
 *    empty; no LZS image holds zero bytes", "is too large to pack: more than
 *    2,147,483,648 bytes", else "cannot pack: " and the error's name;
 *  - a size with LZS_INFO_SALVAGED: the damage and what was kept, "cut
 *    short: the image is shorter than its header says (3,609 of 10,004
 *    bytes); kept what its whole items give, 8,000 bytes", or "bytes after
 *    the end of the image (10,010 bytes; the image is 10,004); kept the
 *    image's 25,000 bytes".
 * Sizes have thousands separators. */
LZS_API size_t lzs_describe(size_t result, const lzs_info* info, char* buf, size_t cap);

/* The header rule alone, for an input of inputSize bytes that starts with
 * head, which holds its first LZS_HEADER_SIZE bytes (all of it when it is
 * shorter): 0 when the header gives the input's size, else the error
 * lzs_decode gives for such an input whatever its other bytes:
 * LZS_ERROR_NOT_AN_IMAGE (inputSize 4 or less), LZS_ERROR_TRUNCATED,
 * LZS_ERROR_TRAILING_DATA, or LZS_ERROR_BAD_ARGUMENT (a NULL head with a
 * size). For a file whose size is known before it is read. info (may be
 * NULL) gets imageSize (0 below 4 bytes) and inputSize. */
LZS_API size_t lzs_check_header(const void* head, unsigned long long inputSize, lzs_info* info);

/* Fills *info from the same scan as lzs_decoded_size and returns the decoded
 * size, or an error (LZS_ERROR_BAD_ARGUMENT for a NULL info). *info is
 * written whenever info is not NULL, with zeros for what the call could not
 * learn: after LZS_ERROR_TRUNCATED or LZS_ERROR_TRAILING_DATA, imageSize and
 * inputSize tell how far apart the header and the image are. */
LZS_API size_t lzs_image_info(const void* image, size_t imageSize, lzs_info* info);

/* Room for lzs_decode_alloc's output: size bytes, or NULL when they cannot
 * be had. opaque is lzs_decode_alloc's. */
typedef void* (*lzs_alloc_fn)(void* opaque, size_t size);

/* Decodes the whole image into memory it asks for once, choosing how: for a
 * small image, one pass into room for the most it can yield
 * (lzs_decode_bound); for a larger one (whose room would be above 32 MiB),
 * or one whose room would be above maxOutput, the size scan first
 * (lzs_decoded_size), then room of exactly the decoded size. The caller
 * keeps no threshold of its own. The room comes from alloc(opaque, size)
 * (malloc when alloc is NULL; the caller then releases it with free), and
 * *output gets it whenever it was had, also when the call then fails: the
 * caller releases a non-NULL *output. Returns the decoded size (the first
 * bytes of the room; past them the room holds nothing of use), or an error:
 * those of lzs_decode, LZS_ERROR_INPUT_TOO_LARGE when the image would
 * unpack to more than maxOutput bytes (SIZE_MAX for no limit), told before
 * any room is asked for, LZS_ERROR_OUT_OF_MEMORY when alloc gives NULL, or
 * LZS_ERROR_BAD_ARGUMENT for a NULL output. info (may be NULL) gets what
 * lzs_image_info gives (the decoded size, the last item cut, the sizes of
 * an image refused), and after LZS_ERROR_INPUT_TOO_LARGE decodedSize (the
 * size above the limit, 0 when a size_t cannot hold it) and sizeLimit
 * (maxOutput), for lzs_describe. The room must not overlap the image. */
LZS_API size_t lzs_decode_alloc(void** output, const void* image, size_t imageSize,
                                size_t maxOutput, lzs_alloc_fn alloc, void* opaque, lzs_info* info);

/* Saving what a damaged image holds: src is an image cut short, or an
 * image with bytes after its end, or a whole image. Decodes what the image's
 * whole items give: of an image cut short, the items before the cut (an
 * item cut in two is dropped); of an image with bytes after it, the image
 * alone (its header tells where it ends). A whole image decodes as
 * lzs_decode decodes it. Returns the decoded size, or an error:
 * LZS_ERROR_NOT_AN_IMAGE (srcSize 4 or less, or a header of 0),
 * LZS_ERROR_NO_OUTPUT (no whole item yields a byte),
 * LZS_ERROR_DST_TOO_SMALL, LZS_ERROR_BAD_ARGUMENT (as lzs_decode). info
 * (may be NULL) gets what lzs_image_info tells of an image (imageSize, what
 * the header promises; inputSize, srcSize; decodedSize; lastItemCut), and
 * the flag LZS_INFO_SALVAGED when src was not a whole image and output was
 * kept, so that lzs_describe words both. A destination of
 * lzs_decode_bound(srcSize) bytes always has room. */
LZS_API size_t lzs_decode_salvage(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                                  lzs_info* info);

/* lzs_decode_alloc for lzs_decode_salvage: the same choice of room and the
 * same maxOutput, alloc and opaque, with lzs_decode_salvage's results. */
LZS_API size_t lzs_salvage_alloc(void** output, const void* src, size_t srcSize, size_t maxOutput,
                                 lzs_alloc_fn alloc, void* opaque, lzs_info* info);

/* Decoding a stream
 *
 * For images that arrive in pieces (pipes, sockets, files read in chunks)
 * or are too large to hold whole. The context keeps the
 * last 4,096 output bytes (the window) and a few counters, about 4.1 KiB in
 * all; the output never needs to be held by the caller. One context decodes
 * one image at a time and is used by one thread at a time; it allocates
 * nothing after lzs_dstream_create.
 *
 * The result is byte for byte what lzs_decode gives for the same bytes,
 * edge rules included (zeros before the start, distance 0, items cut off at
 * the end dropped). Only the header's rule (an image is its header's value
 * plus 4 bytes) needs the end of the input, which the context cannot see:
 * input past the image's end fails with LZS_ERROR_TRAILING_DATA at once, and
 * lzs_dstream_end, called when the input has ended, gives the verdict
 * lzs_decode gives for the same bytes. Output is given as it is decoded, so
 * a rejected image may have produced some output before its error: like
 * lzs_decode's partial output, it is of no use. */
typedef struct lzs_dstream lzs_dstream;

/* A new context, ready for an image; NULL when out of memory. */
LZS_API lzs_dstream* lzs_dstream_create(void);

/* Releases a context. Accepts NULL. */
LZS_API void lzs_dstream_free(lzs_dstream* ds);

/* Makes ds ready for a new image, whatever state it is in (also after an
 * error). Returns 0, or LZS_ERROR_BAD_ARGUMENT for NULL. */
LZS_API size_t lzs_dstream_reset(lzs_dstream* ds);

/* Decodes what it can of src[*srcPos, srcSize) into dst[*dstPos,
 * dstCapacity), and advances *srcPos and *dstPos past the bytes it took and
 * wrote. It never reads or writes outside those ranges, and it takes input
 * only as far as it can go on with it, so any split of the image and any
 * output room, down to one byte each, give the same output. dst and src must
 * not overlap.
 *
 * Returns:
 *  - 0 when all of the image's bytes are taken and all of its output
 *    written. That is not yet the verdict: an image that is no image (a
 *    header of 0) or yields no byte also gives 0 here, and more input after
 *    any image makes it LZS_ERROR_TRAILING_DATA, as lzs_decode says of the
 *    longer input. lzs_dstream_end gives the verdict once the input ends;
 *  - otherwise, above 0, a hint: the payload bytes of the image still to
 *    come (the header's bytes while it is not complete), at least 1. When
 *    *dstPos reached dstCapacity, output may be waiting: call again with more
 *    room before concluding that the input is short;
 *  - or an error (test with lzs_is_error), which stays until
 *    lzs_dstream_reset: LZS_ERROR_TRAILING_DATA (input past the image's
 *    end). LZS_ERROR_BAD_ARGUMENT (ds, dstPos or srcPos NULL, *dstPos above
 *    dstCapacity, *srcPos above srcSize, a NULL buffer with a size, or
 *    dst[0, dstCapacity) and src[0, srcSize) sharing a byte) changes
 *    nothing in ds.
 * The errors of an image (not an image, cut short, no output) come from
 * lzs_dstream_end alone, so that the verdict is the same wherever the input
 * splits and whatever the output room.
 *
 * A decoding loop (examples/stream_decode.c is a whole program):
 *     for (;;) {
 *       if (srcPos == srcSize && !ended) { read into src; srcPos = 0;
 *                                          ended = (nothing was read); }
 *       dstPos = 0;
 *       r = lzs_decode_stream(ds, dst, cap, &dstPos, src, srcSize, &srcPos);
 *       write dst[0, dstPos);
 *       if (lzs_is_error(r) || (ended && dstPos < cap)) break;
 *     }
 *     r = lzs_dstream_end(ds, &info);  (the decoded size, or the error)
 * Reading on after a 0 until the input ends is what catches input past the
 * image's end; stopping at an error or at a 0 before that gives a verdict
 * that lzs_decode may not give for the same bytes. */
LZS_API size_t lzs_decode_stream(lzs_dstream* ds, void* dst, size_t dstCapacity, size_t* dstPos,
                                 const void* src, size_t srcSize, size_t* srcPos);

/* The caller says the input has ended (all of it was passed to
 * lzs_decode_stream); returns the verdict on the image: its decoded size
 * (above 0) when it is whole and all of its output was given, or an error:
 * LZS_ERROR_NOT_AN_IMAGE (the input ended within its first 4 bytes, or the
 * header is 0), LZS_ERROR_TRUNCATED (the input ended before the image's
 * end), LZS_ERROR_NO_OUTPUT, LZS_ERROR_TRAILING_DATA (the error the stream
 * already holds), LZS_ERROR_DST_TOO_SMALL when decoded output is still
 * waiting, in the context or in input the last call left for want of room,
 * whatever that room was (call lzs_decode_stream with more room first), or
 * LZS_ERROR_BAD_ARGUMENT for a NULL ds. Apart from the last two, these are
 * the errors lzs_decode gives for the same bytes. info (may be NULL) gets
 * decodedSize (the output given so far), lastItemCut (the image ends, or
 * the input ended, one byte into a back-reference), imageSize and inputSize
 * (the bytes the stream took). Changes nothing in ds: a second call gives the same answer, and
 * lzs_dstream_reset readies it for the next image. */
LZS_API size_t lzs_dstream_end(lzs_dstream* ds, lzs_info* info);

/* Recommended sizes of the input piece and of the output room for
 * lzs_decode_stream: they give near the speed of lzs_decode on a whole
 * image. Any other sizes work too. */
LZS_API size_t lzs_dstream_in_size(void);
LZS_API size_t lzs_dstream_out_size(void);

/* Encoding
 *
 * The levels; any other is LZS_ERROR_BAD_LEVEL. */
#define LZS_LEVEL_DEFAULT 0 /* LZS_LEVEL_OPTIMAL */
#define LZS_LEVEL_FAST 1    /* greedy over a bounded search, for large batches */
#define LZS_LEVEL_OPTIMAL 9 /* the smallest image the format allows */

/* Largest image of srcSize bytes (every byte a literal); 0 above
 * LZS_ENCODE_SIZE_MAX. */
LZS_API size_t lzs_encode_bound(size_t srcSize);

/* Packs src into dst, header included; returns the image size or an error:
 * LZS_ERROR_EMPTY_INPUT (srcSize 0), LZS_ERROR_INPUT_TOO_LARGE (above
 * LZS_ENCODE_SIZE_MAX), LZS_ERROR_DST_TOO_SMALL (dst is then left as it
 * was), LZS_ERROR_OUT_OF_MEMORY (the workspace, about 1 MiB, plus
 * a copy of the input when it overlaps dst and the largest image's room when
 * dstCapacity is below lzs_encode_bound(srcSize), could not be allocated), LZS_ERROR_BAD_ARGUMENT
 * (a NULL buffer with a size), LZS_ERROR_BAD_LEVEL (a level other than LZS_LEVEL_DEFAULT,
 * LZS_LEVEL_FAST and LZS_LEVEL_OPTIMAL; checked before anything but the NULL pointers). A
 * dstCapacity of lzs_encode_bound(srcSize) always suffices. At every level src and dst may overlap
 * (packing in place): the input is copied into the encoder's workspace before any byte of dst is
 * written. The image is the one lzs_encode_stream gives. */
LZS_API size_t lzs_encode(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                          int level);

/* A reusable encoder: its workspace is kept between calls, so packing many
 * inputs does not reallocate it. One thread at a time uses an encoder. */
typedef struct lzs_encoder lzs_encoder;
/* A new encoder with an empty workspace; NULL when out of memory. */
LZS_API lzs_encoder* lzs_encoder_create(void);
/* lzs_encode with encoder's workspace, grown as inputs need; the same
 * image, results and errors (LZS_ERROR_BAD_ARGUMENT also for a NULL
 * encoder). After an error the encoder may still be used. */
LZS_API size_t lzs_encode_with(lzs_encoder* encoder, void* dst, size_t dstCapacity, const void* src,
                               size_t srcSize, int level);
/* Releases the encoder and its workspace. Accepts NULL. */
LZS_API void lzs_encoder_free(lzs_encoder* encoder);

/* Streaming encoding, for inputs that arrive in pieces or are too large to
 * hold (pipes, files read in chunks), in the manner of zstd's
 * ZSTD_compressStream2. The context holds a few hundred KiB of input and
 * match tables (see lzs_cstream_set_memory_limit for the one part that can
 * grow); the input and the image never need to be held whole by anyone.
 * The image is byte for byte lzs_encode's at the same level, for any split
 * of the input and any output room, down to one byte each. One context
 * packs one image at a time and is used by one thread at a time.
 *
 * The header holds the payload's length, which is known only at the end:
 * the stream writes LZS_HEADER_SIZE zero bytes in its place first, and
 * lzs_cstream_header gives the header once the image is complete. A caller
 * writing to a file that can seek writes the stream's output as it comes,
 * then the header at offset 0; one writing to a pipe keeps the output in a
 * temporary file (or memory) and sends the header, then the rest. */
typedef struct lzs_cstream lzs_cstream;

/* A new context, ready for an image at LZS_LEVEL_DEFAULT; NULL when out of
 * memory. */
LZS_API lzs_cstream* lzs_cstream_create(void);

/* Releases a context. Accepts NULL. */
LZS_API void lzs_cstream_free(lzs_cstream* cs);

/* Makes cs ready for a new image at `level`, whatever state it is in (also
 * after an error). Returns 0, or LZS_ERROR_BAD_ARGUMENT (NULL),
 * LZS_ERROR_BAD_LEVEL (cs is then left as it was) or
 * LZS_ERROR_OUT_OF_MEMORY. */
LZS_API size_t lzs_cstream_reset(lzs_cstream* cs, int level);

/* The optimal level decides its items as soon as the input read so far fixes
 * them, which on ordinary data is a few items behind, and on long repeats
 * (runs of a byte, any pattern repeated with a period up to 4,095 bytes)
 * keeps one period for the whole repeat: its memory stays within a few
 * hundred KiB more. Only input built so that the choice stays open over a
 * long span that does not repeat makes it hold about 4 bytes per input byte
 * of that span; past `bytes` (0: no limit) the stream fails with
 * LZS_ERROR_OUT_OF_MEMORY. The limit starts at LZS_CSTREAM_MEMORY_DEFAULT;
 * lzs_encode has none. Resets cs at its level (see lzs_cstream_reset, whose
 * results it returns). */
#define LZS_CSTREAM_MEMORY_DEFAULT ((size_t)32 << 20)
LZS_API size_t lzs_cstream_set_memory_limit(lzs_cstream* cs, size_t bytes);

typedef enum {
  LZS_CSTREAM_CONTINUE = 0, /* more input will follow */
  LZS_CSTREAM_END = 1       /* src holds the last of the input */
} lzs_cstream_op;

/* Takes what it can of src[*srcPos, srcSize) and writes what it can of the
 * image into dst[*dstPos, dstCapacity), advancing *srcPos and *dstPos. It
 * never reads or writes outside those ranges; dst and src must not overlap.
 * *srcPos is the progress: the input bytes taken so far in this call.
 *
 * With LZS_CSTREAM_CONTINUE, returns the bytes of output ready in the
 * context that did not fit in dst (0: none; the context may still hold input
 * that it has taken and not yet packed). With LZS_CSTREAM_END, the input is
 * complete once all of src is taken: returns 0 when the image is complete
 * and all of it written (lzs_cstream_header then gives the header), else a
 * hint above 0 (call again, with more room, passing what is left of src and
 * LZS_CSTREAM_END). Errors, which stay until lzs_cstream_reset:
 * LZS_ERROR_EMPTY_INPUT (the input ended with no byte),
 * LZS_ERROR_INPUT_TOO_LARGE (the image would pass LZS_IMAGE_SIZE_MAX),
 * LZS_ERROR_OUT_OF_MEMORY (see lzs_cstream_set_memory_limit),
 * LZS_ERROR_BAD_ARGUMENT (cs, dstPos or srcPos NULL, *dstPos above
 * dstCapacity, *srcPos above srcSize, a NULL buffer with a size, dst and src
 * sharing a byte, an unknown op: these change nothing in cs; input after
 * the input has ended, or a stream that took segments: these fail cs).
 *
 * A packing loop (examples/stream_encode.c is a whole program):
 *     do { read a piece into src; srcPos = 0; op = (last piece) ? END : CONTINUE;
 *          do { dstPos = 0;
 *               r = lzs_encode_stream(cs, dst, cap, &dstPos, src, n, &srcPos, op);
 *               write dst[0, dstPos); if (lzs_is_error(r)) fail;
 *          } while (srcPos < n || (op == END && r != 0));
 *     } while (op != END);
 *     lzs_cstream_header(cs, header); write header at offset 0. */
LZS_API size_t lzs_encode_stream(lzs_cstream* cs, void* dst, size_t dstCapacity, size_t* dstPos,
                                 const void* src, size_t srcSize, size_t* srcPos,
                                 lzs_cstream_op op);

/* Once lzs_encode_stream with LZS_CSTREAM_END has returned 0: writes the
 * image's LZS_HEADER_SIZE header bytes to header and returns the image's
 * size (header included). LZS_ERROR_BAD_ARGUMENT for a NULL argument or an
 * image not yet complete. */
LZS_API size_t lzs_cstream_header(const lzs_cstream* cs, void* header);

/* Recommended sizes of the input piece and of the output room for
 * lzs_encode_stream. Any other sizes work too. */
LZS_API size_t lzs_cstream_in_size(void);
LZS_API size_t lzs_cstream_out_size(void);

/* Segments: all cores for one input. A segment does one chunk's share of the
 * packing on any thread: at the optimal level the match search (most of the
 * time), at the fast level the whole parse, which goes by blocks of
 * LZS_SEGMENT_SIZE bytes that depend only on their bytes and the 4,095 bytes
 * before them. A stream then takes the segments in input order
 * (lzs_encode_segment, on one thread) and makes the image one stream makes
 * of the same input: the same bytes for any number of threads.
 *
 * The input is cut into chunks at multiples of LZS_SEGMENT_SIZE (1 MiB);
 * every chunk but the last has a multiple of it. A segment reads the chunk,
 * the LZS_SEGMENT_BEFORE input bytes before it (fewer at the input's start)
 * and, unless it is the last, the LZS_SEGMENT_AFTER bytes after it; the
 * caller keeps them readable during lzs_segment_parse only. A segment holds
 * about 3.6 bytes per chunk byte at the optimal level and 2 at the fast
 * level, plus 600 KiB. A stream takes its input either from
 * lzs_encode_stream or from segments, from its start; after the last
 * segment, lzs_encode_stream with no input and LZS_CSTREAM_END ends it. */
#define LZS_SEGMENT_SIZE ((size_t)1 << 20)
#define LZS_SEGMENT_BEFORE 4095
#define LZS_SEGMENT_AFTER 18
typedef struct lzs_segment lzs_segment;

/* A new segment; NULL when out of memory. */
LZS_API lzs_segment* lzs_segment_create(void);

/* Releases a segment. Accepts NULL. */
LZS_API void lzs_segment_free(lzs_segment* seg);

/* Parses the chunk chunk[0, chunkSize), which starts `offset` bytes into the
 * input; `last` is nonzero when the input ends with it. Returns 0, or
 * LZS_ERROR_BAD_LEVEL, LZS_ERROR_OUT_OF_MEMORY or LZS_ERROR_BAD_ARGUMENT
 * (NULL, chunkSize 0, offset not a multiple of LZS_SEGMENT_SIZE, or a chunk
 * that is not the last and not a multiple of it). Reuses seg's memory. */
LZS_API size_t lzs_segment_parse(lzs_segment* seg, int level, const void* chunk, size_t chunkSize,
                                 unsigned long long offset, int last);

/* Takes a parsed segment into cs, as if its chunk were passed to
 * lzs_encode_stream, and writes what it can of the image into dst[*dstPos,
 * dstCapacity). Returns 0 once seg is taken and its output written (seg may
 * then be parsed anew or freed), above 0 when output waits (call again with
 * the same seg and more room), or an error: LZS_ERROR_BAD_ARGUMENT (NULL, a
 * segment not parsed, not the next chunk of the input, of another level, or
 * after the last; all but the NULLs fail cs), LZS_ERROR_OUT_OF_MEMORY,
 * LZS_ERROR_INPUT_TOO_LARGE. */
LZS_API size_t lzs_encode_segment(lzs_cstream* cs, lzs_segment* seg, void* dst, size_t dstCapacity,
                                  size_t* dstPos);

/* Packs src as orig was packed: orig's items are taken wherever they still
 * decode to src's bytes, and only where src differs from what orig decodes
 * to is it parsed anew, with the smallest parse there that ends on one of
 * orig's items at the same place in its group of eight (so that the flag
 * bytes and the items after it are orig's again). So src that is what orig
 * decodes to gives orig's bytes, whatever packer made orig. After an edit
 * that keeps src's size, the two images differ only near the edit, and the
 * new parse costs what orig's items it replaces cost where it can (it looks
 * some 64 KiB on for such a place), so that the image keeps orig's size and
 * header; an image of orig's made by a packer less thorough than
 * LZS_LEVEL_OPTIMAL leaves room for that. After an edit that changes the
 * size, the items past it are orig's where they still fit, each moved by the
 * change, and the image is never larger than lzs_encode at LZS_LEVEL_FAST
 * makes of src. orig must be a whole image (the errors of lzs_decode
 * otherwise). Returns the image size, or an error: LZS_ERROR_EMPTY_INPUT,
 * LZS_ERROR_INPUT_TOO_LARGE (src or orig's output above
 * LZS_ENCODE_SIZE_MAX), LZS_ERROR_DST_TOO_SMALL (dst is then left as it
 * was), LZS_ERROR_OUT_OF_MEMORY (a workspace of about 24 bytes per byte of
 * orig's output, 20 per byte of src parsed anew, and the encoder's),
 * LZS_ERROR_BAD_ARGUMENT (a NULL buffer with a size, dst overlapping src or
 * orig). reusedItems (may be NULL) gets how many of orig's items the image
 * took, origItems (may be NULL) how many orig has. A dstCapacity of
 * lzs_encode_bound(srcSize) + 2 always suffices (orig may end in a flag byte
 * without items, or in one byte of a back-reference, which decoding drops
 * and the new image keeps). */
LZS_API size_t lzs_encode_like(void* dst, size_t dstCapacity, const void* src, size_t srcSize,
                               const void* orig, size_t origSize, unsigned long long* reusedItems,
                               unsigned long long* origItems);

/* Looking inside images
 *
 * What an image holds item by item (lzs_inspect), images found inside other
 * data (lzs_scan_next), and both in the words lzs prints them in, as text or
 * as JSON (lzs_inspection_text, lzs_finding_text), so that every face shows
 * the same numbers in the same way. */

/* What lzs_inspect tells of an image, one field for each key of the JSON
 * that lzs_inspection_text writes (lzs --inspect --json): status, the
 * lzs_status below; image_size, the bytes given; promised_size, what the
 * header promises (LZS_HEADER_SIZE plus its value; 0 for fewer than 4
 * bytes); decoded_size, groups (flag bytes read), literals, references;
 * length_histogram, the back-references by copy length, 3 to 18;
 * distance_histogram, by the distance d they read from, 0, then d in [2^k,
 * 2^(k+1)) for k from 0 to 11; zero_references, the back-references that
 * read before the start of the output or at distance 0, which write zeros,
 * and first_zero_reference, the output offset of the first (null in the
 * JSON when there is none); smallest_image_size, the size of the image
 * lzs_encode at LZS_LEVEL_OPTIMAL makes of the decoded bytes (0 when
 * nothing decodes); stopped_at, the payload offset where decoding stopped,
 * after the last whole item; last_item_cut; and strip_literals,
 * strip_references and strip_zero_references, the items whose first byte
 * lies in each of LZS_STRIP_SEGMENTS equal pieces of the payload, for a
 * picture of the image. Of a damaged image the counts cover the whole
 * items that decode: of one cut short, those before the cut; of one with
 * bytes after it, the image's. */
typedef enum {
  LZS_STATUS_OK = 0,          /* "ok": a whole image */
  LZS_STATUS_TRUNCATED = 1,   /* "truncated": cut short */
  LZS_STATUS_TRAILING = 2,    /* "trailing": bytes after the image's end */
  LZS_STATUS_NOT_AN_IMAGE = 3 /* "not-an-image": nothing decodes */
} lzs_status;
#define LZS_LENGTH_BUCKETS 16
#define LZS_DISTANCE_BUCKETS 13
#define LZS_STRIP_SEGMENTS 64
typedef struct {
  lzs_status status;
  unsigned long long imageSize;
  unsigned long long promisedSize;
  unsigned long long decodedSize;
  unsigned long long groups;
  unsigned long long literals;
  unsigned long long references;
  unsigned long long lengthHistogram[LZS_LENGTH_BUCKETS];
  unsigned long long distanceHistogram[LZS_DISTANCE_BUCKETS];
  unsigned long long zeroReferences;
  unsigned long long firstZeroReference;
  unsigned long long smallestImageSize;
  unsigned long long stoppedAt;
  int lastItemCut;
  unsigned long long stripLiterals[LZS_STRIP_SEGMENTS];
  unsigned long long stripReferences[LZS_STRIP_SEGMENTS];
  unsigned long long stripZeroReferences[LZS_STRIP_SEGMENTS];
} lzs_inspection;

/* Fills *inspection from image[0, imageSize), which may be any bytes: a
 * whole image, a damaged one or none. Returns the decoded size (0 when
 * nothing decodes), or an error: LZS_ERROR_BAD_ARGUMENT (a NULL inspection,
 * a NULL image with a size), LZS_ERROR_OUT_OF_MEMORY (room for the decoded
 * bytes and the encoder's workspace, for smallest_image_size), or
 * LZS_ERROR_INPUT_TOO_LARGE (a decoded size that a size_t cannot hold). The
 * decoded bytes above LZS_ENCODE_SIZE_MAX are not packed: smallest_image_size
 * is then 0. */
LZS_API size_t lzs_inspect(const void* image, size_t imageSize, lzs_inspection* inspection);

/* Writes an inspection into buf[0, cap) as lzs_describe does (NUL ended,
 * cut to fit, returns the whole length): with json 1, the JSON object of
 * lzs --inspect --json on one line, "file" first when name is not NULL;
 * with json 0, the summary lzs --inspect prints, lines ended by "\n", the
 * first naming name when it is not NULL. */
LZS_API size_t lzs_inspection_text(const lzs_inspection* inspection, const char* name, int json,
                                   char* buf, size_t cap);

/* An image found inside other data: where it starts, its size (from its
 * header, LZS_HEADER_SIZE included), what it decodes to, and how sure the
 * scan is. The format has no magic number, and any bytes whose header fits
 * decode to something: the confidence comes from evidence in the items.
 * Every packer extends a match as far as it goes and never spends two items
 * where one does, so an image a packer made has almost no item that shows
 * otherwise (a back-reference followed by the byte it would have copied
 * next, two back-references that the first could have copied as one, five
 * literals in a row that the window holds near, distance 0, a last item
 * cut in two); bytes that are no image have many, their back-references
 * reading zeros from before the output's start and cutting the runs of
 * zeros into pieces. Of the rare bytes that have none, some read that zero
 * window far more than packers do while packing worse than their decoded
 * bytes repack, and others pack much worse than that (their decoded bytes
 * repack to less than half). LZS_CONFIDENCE_HIGH: an image of
 * LZS_SCAN_HIGH_IMAGE bytes or more that passes all of this;
 * LZS_CONFIDENCE_LOW: a smaller one, down to LZS_SCAN_MIN_IMAGE bytes,
 * that passes it too, where bytes that are no image still do now and
 * then (a few in 10 MB of executables and libraries; none in random
 * bytes). The few bytes before an image can read as a shorter image that
 * falls in step with its items: a high finding gives way to a high one
 * that starts at most 64 bytes on and reaches past its end. */
#define LZS_CONFIDENCE_LOW 1
#define LZS_CONFIDENCE_HIGH 2
#define LZS_SCAN_MIN_IMAGE 128
#define LZS_SCAN_HIGH_IMAGE 1024
typedef struct {
  unsigned long long offset;
  unsigned long long imageSize;
  unsigned long long decodedSize;
  int confidence;
} lzs_finding;

/* Looks for the next image in src[*pos, srcSize) and fills *finding with
 * it: returns 1, with *pos past it (past the image's end for a high one,
 * whose bytes hold no other; one byte past its start for a low one); or 0
 * when there is none, *pos then srcSize. A loop over a buffer:
 *     size_t pos = 0;
 *     while ((r = lzs_scan_next(buffer, size, &pos, &finding)) == 1) { ... }
 * Errors: LZS_ERROR_BAD_ARGUMENT (pos or finding NULL, *pos above srcSize,
 * a NULL src with a size), LZS_ERROR_OUT_OF_MEMORY (about 200 KiB of
 * workspace, more to repack an image). The scan reads past *pos only as
 * far as an image there reaches, and never past srcSize. */
LZS_API size_t lzs_scan_next(const void* src, size_t srcSize, size_t* pos, lzs_finding* finding);

/* Writes a finding as lzs_inspection_text writes an inspection: with json
 * 1, the JSON object of lzs --scan --json ("file", when name is not NULL,
 * "offset", "image_size", "decoded_size", "confidence" as "high" or "low");
 * with json 0, the line lzs --scan prints for it. */
LZS_API size_t lzs_finding_text(const lzs_finding* finding, const char* name, int json, char* buf,
                                size_t cap);

/* EXAMPLES
 *
 * Building against the installed library, with pkg-config:
 *
 *     cc app.c $(pkg-config --cflags --libs lzs)
 *
 * or in CMake (3.18 or later):
 *
 *     find_package(lzs 1.1 CONFIG REQUIRED)
 *     target_link_libraries(app PRIVATE lzs::lzs)   # or lzs::lzs_static
 *
 * A whole image into memory the library asks for, and the words of its
 * error:
 *
 *     void* out = NULL;
 *     lzs_info info;
 *     size_t n = lzs_decode_alloc(&out, image, imageSize, SIZE_MAX, NULL, NULL, &info);
 *     if (lzs_is_error(n)) {
 *       char words[256];
 *       lzs_describe(n, &info, words, sizeof words);
 *       fprintf(stderr, "%s: %s\n", name, words);
 *     }
 *     free(out);
 *
 * The folder examples of the sources holds four small programs:
 * round_trip.c (one-shot), stream_decode.c (standard input to standard
 * output in pieces of the recommended sizes), stream_encode.c (standard
 * input packed in pieces, the header written last) and pack_folder.c (one
 * encoder over the files of a folder).
 *
 * SEE ALSO
 *
 * lzs(1), lzs-pack(1), lzs-unpack(1) */

#ifdef __cplusplus
}
#endif

#endif /* LZS_H */
