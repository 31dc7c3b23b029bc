/* A program built against an installed liblzs, as a user's would be:
 *
 *   consumer INPUT PACKED UNPACKED [fast]
 *
 * packs INPUT into the LZS image PACKED, then reads PACKED back and unpacks
 * it into UNPACKED, sizing the buffer with lzs_decoded_size. */
#include <lzs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static unsigned char* ReadFile(const char* name, size_t* size) {
  FILE* file = fopen(name, "rb");
  if (file == NULL) return NULL;
  size_t capacity = 1 << 16;
  size_t used = 0;
  unsigned char* data = malloc(capacity);
  for (size_t n; data != NULL && (n = fread(data + used, 1, capacity - used, file)) > 0;) {
    used += n;
    if (used == capacity) {
      unsigned char* grown = realloc(data, capacity *= 2);
      if (grown == NULL) free(data);
      data = grown;
    }
  }
  if (ferror(file)) {
    free(data);
    data = NULL;
  }
  fclose(file);
  *size = used;
  return data;
}

static int WriteFile(const char* name, const unsigned char* data, size_t size) {
  FILE* file = fopen(name, "wb");
  if (file == NULL) return 0;
  const int ok = fwrite(data, 1, size, file) == size;
  return fclose(file) == 0 && ok;
}

static int Fail(const char* what, size_t code) {
  fprintf(stderr, "consumer: %s: %s\n", what, lzs_error_name(code));
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5 || (argc == 5 && strcmp(argv[4], "fast") != 0)) {
    fprintf(stderr, "usage: consumer INPUT PACKED UNPACKED [fast]\n");
    return 2;
  }
  if (lzs_version_number() != LZS_VERSION_NUMBER) {
    fprintf(stderr, "consumer: built with lzs.h %d, runs with liblzs %s\n", LZS_VERSION_NUMBER,
            lzs_version_string());
    return 1;
  }
  size_t inputSize = 0;
  unsigned char* input = ReadFile(argv[1], &inputSize);
  if (input == NULL) return perror(argv[1]), 1;

  const size_t bound = lzs_encode_bound(inputSize);
  unsigned char* image = malloc(bound);
  if (image == NULL) return perror("malloc"), 1;
  const size_t imageSize =
      lzs_encode(image, bound, input, inputSize, argc == 5 ? LZS_LEVEL_FAST : LZS_LEVEL_OPTIMAL);
  if (lzs_is_error(imageSize)) return Fail("pack", imageSize);
  if (!WriteFile(argv[2], image, imageSize)) return perror(argv[2]), 1;
  free(image);
  free(input);

  size_t packedSize = 0;
  unsigned char* packed = ReadFile(argv[2], &packedSize);
  if (packed == NULL) return perror(argv[2]), 1;
  const size_t size = lzs_decoded_size(packed, packedSize);
  if (lzs_is_error(size)) return Fail("size", size);
  unsigned char* output = malloc(size);
  if (output == NULL) return perror("malloc"), 1;
  const size_t n = lzs_decode(output, size, packed, packedSize);
  if (lzs_is_error(n)) return Fail("unpack", n);
  if (!WriteFile(argv[3], output, n)) return perror(argv[3]), 1;
  free(output);
  free(packed);
  printf("consumer: liblzs %s: %zu bytes packed to %zu and unpacked to %zu\n", lzs_version_string(),
         inputSize, imageSize, n);
  return 0;
}
