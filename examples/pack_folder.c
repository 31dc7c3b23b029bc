/* Encoder reuse: packs every regular file of a folder with one lzs_encoder,
 * whose workspace is kept from one file to the next, and checks each image
 * with lzs_decode. Writes nothing; prints one line per file and a total.
 *
 *   pack_folder DIR [fast]
 */
#include <dirent.h>
#include <lzs.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

/* The whole file, or NULL; *size is its length. */
static unsigned char* ReadWhole(const char* path, size_t* size) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) return NULL;
  unsigned char* data = NULL;
  struct stat st;
  if (fstat(fileno(file), &st) == 0 && st.st_size >= 0 &&
      (data = malloc((size_t)st.st_size + 1)) != NULL) {
    *size = fread(data, 1, (size_t)st.st_size, file);
    if (ferror(file)) {
      free(data);
      data = NULL;
    }
  }
  fclose(file);
  return data;
}

/* Packs and checks one file; returns 1 when it round-trips. */
static int PackOne(lzs_encoder* encoder, const char* path, int level, size_t* in, size_t* out) {
  size_t size = 0;
  unsigned char* data = ReadWhole(path, &size);
  const size_t bound = lzs_encode_bound(size);
  unsigned char* image = data == NULL ? NULL : malloc(bound > 0 ? bound : 1);
  unsigned char* back = image == NULL ? NULL : malloc(size > 0 ? size : 1);
  int ok = 0;
  if (back != NULL) {
    const size_t packed = lzs_encode_with(encoder, image, bound, data, size, level);
    if (lzs_is_error(packed)) {
      printf("%s: %s\n", path, lzs_error_name(packed));
      ok = lzs_get_error(packed) == LZS_ERROR_EMPTY_INPUT; /* no image holds zero bytes */
    } else {
      const size_t unpacked = lzs_decode(back, size, image, packed);
      ok = unpacked == size && memcmp(back, data, size) == 0;
      printf("%s: %zu -> %zu bytes%s\n", path, size, packed, ok ? "" : ", DOES NOT ROUND-TRIP");
      *in += size;
      *out += packed;
    }
  } else {
    printf("%s: cannot read or out of memory\n", path);
  }
  free(back);
  free(image);
  free(data);
  return ok;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: pack_folder DIR [fast]\n");
    return 2;
  }
  const int level = argc > 2 && strcmp(argv[2], "fast") == 0 ? LZS_LEVEL_FAST : LZS_LEVEL_OPTIMAL;
  DIR* dir = opendir(argv[1]);
  lzs_encoder* encoder = lzs_encoder_create();
  if (dir == NULL || encoder == NULL) {
    fprintf(stderr, "pack_folder: cannot open %s or out of memory\n", argv[1]);
    if (dir != NULL) closedir(dir);
    lzs_encoder_free(encoder);
    return 1;
  }
  int failed = 0;
  int files = 0;
  size_t in = 0;
  size_t out = 0;
  for (struct dirent* entry; (entry = readdir(dir)) != NULL;) {
    char path[4096];
    struct stat st;
    if (snprintf(path, sizeof path, "%s/%s", argv[1], entry->d_name) >= (int)sizeof path) continue;
    if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) continue;
    ++files;
    if (!PackOne(encoder, path, level, &in, &out)) failed = 1;
  }
  closedir(dir);
  lzs_encoder_free(encoder);
  printf("%d files: %zu -> %zu bytes\n", files, in, out);
  return failed;
}
