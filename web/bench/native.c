/* The native side of web/bench/bench.mjs: liblzs's own speed on the same
 * files and by the same rule as the module's figures, so that the two are
 * compared in one run.
 *
 *   lzs_web_bench_native SECONDS WINDOWS decode IMAGE... [pack INPUT...]
 *
 * For each IMAGE, lzs_decode into a buffer of the decoded size made once
 * ("decode"), and lzs_decode_alloc into new memory each time, freed after
 * it ("alloc", what a caller pays for an output of its own); for each
 * INPUT, lzs_encode_with at the fast level with one encoder ("pack"). Each
 * measurement runs the call for at least SECONDS (and twice); the figure is
 * the best of WINDOWS measurements, in MB/s (10^6 bytes) of output for
 * decoding and of input for packing, of processor time and of wall time.
 * Prints one line of JSON for each: {"file": ..., "what": "decode",
 * "alloc" or "pack", "cpu": MB/s, "wall": MB/s}. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "lzs.h"

static double Now(clockid_t clock) {
  struct timespec t;
  clock_gettime(clock, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static unsigned char* ReadFile(const char* path, size_t* size) {
  FILE* file = fopen(path, "rb");
  if (file == NULL) return NULL;
  unsigned char* data = NULL;
  if (fseek(file, 0, SEEK_END) == 0) {
    const long length = ftell(file);
    if (length > 0 && fseek(file, 0, SEEK_SET) == 0) {
      data = malloc((size_t)length);
      if (data != NULL && fread(data, 1, (size_t)length, file) != (size_t)length) {
        free(data);
        data = NULL;
      }
      *size = (size_t)length;
    }
  }
  (void)fclose(file);
  return data;
}

/* What one call works on. */
typedef struct {
  unsigned char* in;
  size_t inSize;
  unsigned char* out;
  size_t outSize;
  lzs_encoder* encoder;
} Work;

/* One call; 0 when it did not give what it should. */
static int Decode(Work* w) {
  return lzs_decode(w->out, w->outSize, w->in, w->inSize) == w->outSize;
}
static int Alloc(Work* w) {
  void* out = NULL;
  const size_t n = lzs_decode_alloc(&out, w->in, w->inSize, (size_t)-1, NULL, NULL, NULL);
  free(out);
  return n == w->outSize;
}
static int Pack(Work* w) {
  return !lzs_is_error(
      lzs_encode_with(w->encoder, w->out, w->outSize, w->in, w->inSize, LZS_LEVEL_FAST));
}

/* The best rates over the windows, of `bytes` a call; 0 on a failed call. */
static int Measure(int (*call)(Work*), Work* w, size_t bytes, double seconds, int windows,
                   double* cpu, double* wall) {
  *cpu = 0;
  *wall = 0;
  for (int k = 0; k < windows; ++k) {
    const double cpuStart = Now(CLOCK_PROCESS_CPUTIME_ID);
    const double wallStart = Now(CLOCK_MONOTONIC);
    long runs = 0;
    while (runs < 2 || Now(CLOCK_MONOTONIC) - wallStart < seconds) {
      if (!call(w)) return 0;
      ++runs;
    }
    const double perCpu = (Now(CLOCK_PROCESS_CPUTIME_ID) - cpuStart) / (double)runs;
    const double perWall = (Now(CLOCK_MONOTONIC) - wallStart) / (double)runs;
    if ((double)bytes / 1e6 / perCpu > *cpu) *cpu = (double)bytes / 1e6 / perCpu;
    if ((double)bytes / 1e6 / perWall > *wall) *wall = (double)bytes / 1e6 / perWall;
  }
  return 1;
}

/* Measures each way for the file and prints its lines; 0 when a call failed
 * or the file could not be had. */
static int MeasureFile(const char* path, int packing, double seconds, int windows) {
  Work w = {NULL, 0, NULL, 0, NULL};
  w.in = ReadFile(path, &w.inSize);
  if (w.in != NULL) {
    w.outSize = packing ? lzs_encode_bound(w.inSize) : lzs_decoded_size(w.in, w.inSize);
    w.out = lzs_is_error(w.outSize) ? NULL : malloc(w.outSize);
    w.encoder = packing ? lzs_encoder_create() : NULL;
  }
  const char* const whats[] = {packing ? "pack" : "decode", "alloc"};
  int (*const calls[])(Work*) = {packing ? Pack : Decode, Alloc};
  int ok = w.out != NULL && (!packing || w.encoder != NULL);
  for (int c = 0; ok && c < (packing ? 1 : 2); ++c) {
    double cpu = 0;
    double wall = 0;
    ok = Measure(calls[c], &w, packing ? w.inSize : w.outSize, seconds, windows, &cpu, &wall);
    if (ok) {
      (void)printf("{\"file\": \"%s\", \"what\": \"%s\", \"cpu\": %.1f, \"wall\": %.1f}\n", path,
                   whats[c], cpu, wall);
      (void)fflush(stdout);
    }
  }
  if (!ok) (void)fprintf(stderr, "%s: not %s\n", path, packing ? "packed" : "decoded");
  lzs_encoder_free(w.encoder);
  free(w.out);
  free(w.in);
  return ok;
}

int main(int argc, char** argv) {
  const double seconds = argc > 2 ? strtod(argv[1], NULL) : 0;
  const long windows = argc > 2 ? strtol(argv[2], NULL, 10) : 0;
  if (argc < 4 || strcmp(argv[3], "decode") != 0 || !(seconds > 0) || windows < 1 ||
      windows > 1000) {
    (void)fprintf(stderr, "usage: %s SECONDS WINDOWS decode IMAGE... [pack INPUT...]\n", argv[0]);
    return 2;
  }
  int packing = 0;
  for (int k = 4; k < argc; ++k) {
    if (strcmp(argv[k], "pack") == 0) {
      packing = 1;
      continue;
    }
    if (!MeasureFile(argv[k], packing, seconds, (int)windows)) return 1;
  }
  return 0;
}
