/* Streaming decode: unpacks the LZS image on standard input to standard
 * output with lzs_decode_stream, 64 KiB in and 64 KiB out at a time, so the
 * image is never held whole.
 *
 *   stream_decode < IMAGE > OUTPUT
 */
#include <lzs.h>
#include <stdio.h>

enum { Chunk = 64 * 1024 };

static unsigned char in[Chunk];
static unsigned char out[Chunk];

int main(void) {
  lzs_dstream* ds = lzs_dstream_create();
  if (ds == NULL) return 1;
  size_t total = 0; /* input bytes read */
  size_t srcSize = 0;
  size_t srcPos = 0;
  size_t result = 1;
  int inputEnded = 0;
  /* Until an error, or until the input has ended and no output waits: the
   * result is then 0 for a complete image, above 0 for one cut short. Input
   * after the image's end gives LZS_ERROR_HEADER_MISMATCH, as lzs_decode
   * says of such a file. */
  for (;;) {
    if (srcPos == srcSize && !inputEnded) {
      srcSize = fread(in, 1, sizeof in, stdin);
      srcPos = 0;
      total += srcSize;
      inputEnded = srcSize == 0;
    }
    size_t dstPos = 0;
    result = lzs_decode_stream(ds, out, sizeof out, &dstPos, in, srcSize, &srcPos);
    if (fwrite(out, 1, dstPos, stdout) != dstPos || lzs_is_error(result)) break;
    if (inputEnded && dstPos < sizeof out) break;
  }
  lzs_dstream_free(ds);
  if (ferror(stdin) || fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "stream_decode: read or write error\n");
    return 1;
  }
  if (lzs_is_error(result)) {
    fprintf(stderr, "stream_decode: %s\n", lzs_error_name(result));
    return 1;
  }
  if (result != 0) {
    /* What lzs_decode would say of the bytes read. */
    fprintf(stderr, "stream_decode: %s\n",
            total <= LZS_HEADER_SIZE ? "not an LZS image (4 bytes or fewer)" : "image cut short");
    return 1;
  }
  return 0;
}
