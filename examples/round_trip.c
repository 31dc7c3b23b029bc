/* One-shot round trip: packs a text with lzs_encode, unpacks it with
 * lzs_decode and checks that the bytes came back.
 *
 *   round_trip [TEXT]
 */
#include <lzs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  const char* text =
      argc > 1 ? argv[1]
               : "an LZS image: a 4-byte length, then an LZSS stream; an LZS image, packed again";
  const size_t size = strlen(text);
  const size_t bound = lzs_encode_bound(size);
  unsigned char* image = malloc(bound);
  if (image == NULL) return 1;
  const size_t packed = lzs_encode(image, bound, text, size, LZS_LEVEL_OPTIMAL);
  if (lzs_is_error(packed)) {
    fprintf(stderr, "round_trip: cannot pack: %s\n", lzs_error_name(packed));
    free(image);
    return 1;
  }
  /* lzs_decoded_size gives the exact room lzs_decode needs. */
  const size_t decodedSize = lzs_decoded_size(image, packed);
  char* back = lzs_is_error(decodedSize) ? NULL : malloc(decodedSize);
  const size_t unpacked = back == NULL ? 0 : lzs_decode(back, decodedSize, image, packed);
  const int same =
      back != NULL && !lzs_is_error(unpacked) && unpacked == size && memcmp(back, text, size) == 0;
  printf("%zu bytes -> %zu-byte image -> %s\n", size, packed,
         same ? "the same bytes" : "DIFFERENT BYTES");
  free(back);
  free(image);
  return same ? 0 : 1;
}
