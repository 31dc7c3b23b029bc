/* Streaming decode: unpacks the LZS image on standard input to standard
 * output with lzs_decode_stream, in pieces of the recommended sizes
 * (lzs_dstream_in_size and lzs_dstream_out_size), so the image is never held
 * whole.
 *
 *   stream_decode < IMAGE > OUTPUT
 */
#include <lzs.h>
#include <stdio.h>
#include <stdlib.h>

int main(void) {
  const size_t inSize = lzs_dstream_in_size();
  const size_t outSize = lzs_dstream_out_size();
  unsigned char* in = malloc(inSize);
  unsigned char* out = malloc(outSize);
  lzs_dstream* ds = lzs_dstream_create();
  size_t srcSize = 0;
  size_t srcPos = 0;
  size_t result = 1;
  int inputEnded = 0;
  /* Until an error, or until the input has ended and no output waits. Input
   * after the image's end gives LZS_ERROR_TRAILING_DATA, as lzs_decode says
   * of such a file. */
  while (in != NULL && out != NULL && ds != NULL) {
    if (srcPos == srcSize && !inputEnded) {
      srcSize = fread(in, 1, inSize, stdin);
      srcPos = 0;
      inputEnded = srcSize == 0;
    }
    size_t dstPos = 0;
    result = lzs_decode_stream(ds, out, outSize, &dstPos, in, srcSize, &srcPos);
    if (fwrite(out, 1, dstPos, stdout) != dstPos || lzs_is_error(result)) break;
    if (inputEnded && dstPos < outSize) {
      /* The input has ended: the verdict on the image (its decoded size, or
       * why it is refused: cut short, not an image, ...). */
      lzs_info info;
      result = lzs_dstream_end(ds, &info);
      if (lzs_get_error(result) == LZS_ERROR_TRUNCATED) {
        fprintf(stderr, "stream_decode: %llu of the %llu bytes its header promises\n",
                info.inputSize, info.imageSize);
      }
      break;
    }
  }
  const int ready = in != NULL && out != NULL && ds != NULL;
  lzs_dstream_free(ds);
  free(out);
  free(in);
  if (!ready) {
    fprintf(stderr, "stream_decode: out of memory\n");
    return 1;
  }
  if (ferror(stdin) || fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "stream_decode: read or write error\n");
    return 1;
  }
  if (lzs_is_error(result)) {
    fprintf(stderr, "stream_decode: %s\n", lzs_error_name(result));
    return 1;
  }
  return 0;
}
