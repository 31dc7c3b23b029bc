/* liblzs: packs and unpacks LZS images (a 4-byte little-endian length of the
 * rest, then an LZSS stream of flag bytes, literals and two-byte
 * back-references into a 4,096-byte window).
 *
 * Every call is bounded: it reads only src/image[0, size) and writes only
 * dst[0, dstCapacity). Calls that return size_t return either a size or an
 * error code; test with lzs_is_error() and describe with lzs_error_name().
 * There is no global state: calls may run on any number of threads at once,
 * each lzs_encoder used by one thread at a time. Decoding never allocates. */
#ifndef LZS_H
#define LZS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(LZS_BUILDING_SHARED)
#if defined(_WIN32)
#define LZS_API __declspec(dllexport)
#else
#define LZS_API __attribute__((visibility("default")))
#endif
#elif defined(_WIN32) && defined(LZS_DLL_IMPORT)
#define LZS_API __declspec(dllimport) /* a program linked with lzs.dll's import library */
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

/* The version of the library actually linked: major*10000 + minor*100 + patch,
 * and as "major.minor.patch". */
LZS_API unsigned lzs_version_number(void);
LZS_API const char* lzs_version_string(void);

/* Errors. A call returns (size_t)-code; lzs_get_error() gives the code back
 * (LZS_OK for a size). An image is accepted only when its header is its size
 * minus 4: TRUNCATED and TRAILING_DATA tell the two ways it can differ. */
typedef enum {
  LZS_OK = 0,
  LZS_ERROR_NOT_AN_IMAGE = 1,    /* 4 bytes or fewer: no room for any item; in a
                                    stream also a header of 0, or an input that
                                    ended inside the header */
  LZS_ERROR_TRUNCATED = 2,       /* the image is shorter than its header says */
  LZS_ERROR_NO_OUTPUT = 3,       /* the payload yields no byte */
  LZS_ERROR_DST_TOO_SMALL = 4,   /* dstCapacity is below what the call needs */
  LZS_ERROR_INPUT_TOO_LARGE = 5, /* encode: above LZS_ENCODE_SIZE_MAX, or in a
                                    stream an image past LZS_IMAGE_SIZE_MAX;
                                    decode: a size that a size_t cannot return */
  LZS_ERROR_OUT_OF_MEMORY = 6,   /* encode: the workspace could not be allocated */
  LZS_ERROR_EMPTY_INPUT = 7,     /* encode: no image can hold zero bytes */
  LZS_ERROR_BAD_ARGUMENT = 8,    /* a null pointer with a size, dst overlapping
                                    the image, stream positions past their buffers */
  LZS_ERROR_TRAILING_DATA = 9,   /* the image is longer than its header says; in
                                    a stream, input past the image's end */
  LZS_ERROR_BAD_LEVEL = 10,      /* encode: a level other than those below */
  LZS_ERROR_MAX_CODE = 10
} lzs_error;

LZS_API unsigned lzs_is_error(size_t code);
LZS_API lzs_error lzs_get_error(size_t code);
/* A short English description; "no error" for a size. Never NULL. */
LZS_API const char* lzs_error_name(size_t code);

/* The image format's sizes: the header's length, the largest image (a 32-bit
 * header gives the length of the rest), and the most one payload byte can
 * yield (a two-byte back-reference copies at most 18). */
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

/* Decoding. The window starts zero-filled, so a back-reference before the
 * start copies zeros; a back-reference of distance 0 is taken as it comes;
 * items cut off at the end of the image are dropped. An image that yields no
 * byte is an error. */

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

/* What a scan of an image tells without decoding it (lzs_image_info), or
 * what a stream saw (lzs_dstream_end). */
typedef struct {
  size_t decodedSize;           /* what lzs_decode returns for the image; for
                                   a stream, the output given so far */
  int lastItemCut;              /* 1 when the image (or the input) ends one byte
                                   into a back-reference, which decoding drops;
                                   else 0 */
  unsigned long long imageSize; /* LZS_HEADER_SIZE plus the header's value: the
                                   size the image should have; 0 when no whole
                                   header was seen */
  unsigned long long inputSize; /* the bytes given: imageSize, or the bytes a
                                   stream took */
} lzs_info;

/* Fills *info from the same scan as lzs_decoded_size and returns the decoded
 * size, or an error (LZS_ERROR_BAD_ARGUMENT for a NULL info). *info is
 * written whenever info is not NULL, with zeros for what the call could not
 * learn: after LZS_ERROR_TRUNCATED or LZS_ERROR_TRAILING_DATA, imageSize and
 * inputSize tell how far apart the header and the image are. */
LZS_API size_t lzs_image_info(const void* image, size_t imageSize, lzs_info* info);

/* Streaming decoding, for images that arrive in pieces (pipes, sockets,
 * files read in chunks) or are too large to hold whole. The context keeps the
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
 *  - 0 when the image is complete and all of its output written;
 *  - otherwise, above 0, a hint: the payload bytes of the image still to
 *    come (the header's bytes while it is not complete), at least 1. When
 *    *dstPos reached dstCapacity, output may be waiting: call again with more
 *    room before concluding that the input is short;
 *  - or an error (test with lzs_is_error): LZS_ERROR_NOT_AN_IMAGE (a header
 *    of 0), LZS_ERROR_NO_OUTPUT (the image yields no byte), or
 *    LZS_ERROR_TRAILING_DATA (input past the image's end). These come when
 *    the image ends and stay until lzs_dstream_reset; but a 0,
 *    LZS_ERROR_NOT_AN_IMAGE or LZS_ERROR_NO_OUTPUT becomes
 *    LZS_ERROR_TRAILING_DATA if more input is passed, as lzs_decode would
 *    say of the longer input. LZS_ERROR_BAD_ARGUMENT (ds, dstPos or srcPos
 *    NULL, *dstPos above dstCapacity, *srcPos above srcSize, a NULL buffer
 *    with a size, or dst[0, dstCapacity) and src[0, srcSize) sharing a byte)
 *    changes nothing in ds.
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
 * image's end. */
LZS_API size_t lzs_decode_stream(lzs_dstream* ds, void* dst, size_t dstCapacity, size_t* dstPos,
                                 const void* src, size_t srcSize, size_t* srcPos);

/* The caller says the input has ended (all of it was passed to
 * lzs_decode_stream); returns the verdict on the image: its decoded size
 * (above 0) when it is whole and all of its output was given, or an error:
 * LZS_ERROR_NOT_AN_IMAGE (the input ended within its first 4 bytes, or the
 * header is 0), LZS_ERROR_TRUNCATED (the input ended before the image's
 * end), LZS_ERROR_NO_OUTPUT, LZS_ERROR_TRAILING_DATA (the error the stream
 * already holds), LZS_ERROR_DST_TOO_SMALL when decoded output is still
 * waiting in the context (call lzs_decode_stream with more room first), or
 * LZS_ERROR_BAD_ARGUMENT for a NULL ds. Apart from the last two, these are
 * the errors lzs_decode gives for the same bytes. info (may be NULL) gets decodedSize (the output
 * given so far), lastItemCut (the image ends, or the input ended, one byte
 * into a back-reference), imageSize and inputSize (the bytes the stream
 * took). Changes nothing in ds: a second call gives the same answer, and
 * lzs_dstream_reset readies it for the next image. */
LZS_API size_t lzs_dstream_end(lzs_dstream* ds, lzs_info* info);

/* Recommended sizes of the input piece and of the output room for
 * lzs_decode_stream: they give near the speed of lzs_decode on a whole
 * image. Any other sizes work too. */
LZS_API size_t lzs_dstream_in_size(void);
LZS_API size_t lzs_dstream_out_size(void);

/* Encoding. The levels; any other is LZS_ERROR_BAD_LEVEL. */
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

#ifdef __cplusplus
}
#endif

#endif /* LZS_H */
