/* Streaming encode: packs standard input into the LZS image OUTPUT with
 * lzs_encode_stream, in pieces of the recommended sizes, so that neither the
 * input nor the image is ever held whole. The header, known only at the end,
 * is written at offset 0 last; when OUTPUT cannot seek (a pipe), the image
 * goes through a temporary file first.
 *
 *   stream_encode [-1|-9] OUTPUT < INPUT      (OUTPUT may be - for standard output)
 */
#include <lzs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Copies the whole of `from` (from its start) to `to`. */
static int CopyAll(FILE* from, FILE* to) {
  char buffer[1 << 16];
  size_t n = 0;
  if (fseek(from, 0, SEEK_SET) != 0) return 0;
  while ((n = fread(buffer, 1, sizeof buffer, from)) > 0) {
    if (fwrite(buffer, 1, n, to) != n) return 0;
  }
  return !ferror(from);
}

int main(int argc, char** argv) {
  int level = LZS_LEVEL_DEFAULT;
  int arg = 1;
  if (arg < argc && (strcmp(argv[arg], "-1") == 0 || strcmp(argv[arg], "-9") == 0)) {
    level = argv[arg][1] - '0';
    ++arg;
  }
  if (arg + 1 != argc) {
    (void)fprintf(stderr, "usage: stream_encode [-1|-9] OUTPUT < INPUT\n");
    return 2;
  }
  FILE* output = strcmp(argv[arg], "-") == 0 ? stdout : fopen(argv[arg], "wb");
  if (output == NULL) {
    perror(argv[arg]);
    return 1;
  }
  /* The image is written where the header can be put in afterwards. */
  FILE* image = fseek(output, 0, SEEK_SET) == 0 ? output : tmpfile();
  /* The stream, and its buffers of the recommended sizes. */
  lzs_cstream* cs = lzs_cstream_create();
  const size_t inSize = lzs_cstream_in_size();
  const size_t outSize = lzs_cstream_out_size();
  unsigned char* in = malloc(inSize);
  unsigned char* out = malloc(outSize);
  size_t result = 1;
  int failed = image == NULL || in == NULL || out == NULL || cs == NULL ||
               lzs_is_error(lzs_cstream_reset(cs, level));
  lzs_cstream_op op = LZS_CSTREAM_CONTINUE;
  while (!failed && op != LZS_CSTREAM_END) {
    const size_t n = fread(in, 1, inSize, stdin);
    size_t srcPos = 0;
    if (n < inSize) op = LZS_CSTREAM_END; /* the input ends with this piece */
    do {
      size_t dstPos = 0;
      result = lzs_encode_stream(cs, out, outSize, &dstPos, in, n, &srcPos, op);
      if (fwrite(out, 1, dstPos, image) != dstPos || lzs_is_error(result)) failed = 1;
    } while (!failed && (srcPos < n || (op == LZS_CSTREAM_END && result != 0)));
  }
  unsigned char header[LZS_HEADER_SIZE];
  if (!failed && (ferror(stdin) || lzs_is_error(result = lzs_cstream_header(cs, header)))) {
    failed = 1;
  }
  if (!failed && (fseek(image, 0, SEEK_SET) != 0 ||
                  fwrite(header, 1, sizeof header, image) != sizeof header)) {
    failed = 1;
  }
  if (!failed && image != output && !CopyAll(image, output)) failed = 1;
  if (fflush(output) != 0 || ferror(output)) failed = 1;
  if (failed && lzs_is_error(result)) {
    (void)fprintf(stderr, "stream_encode: %s\n", lzs_error_name(result));
  } else if (failed) {
    (void)fprintf(stderr, "stream_encode: out of memory, or a read or write error\n");
  }
  lzs_cstream_free(cs);
  free(out);
  free(in);
  if (image != NULL && image != output) (void)fclose(image);
  if (output != stdout && fclose(output) != 0) failed = 1;
  return failed ? 1 : 0;
}
