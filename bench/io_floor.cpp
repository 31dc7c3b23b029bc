// The I/O floor of one lzs-unpack run: what any run must do whatever its
// decoder costs. It reads the image into a zero-filled block of ten times its
// size (as lzs-unpack does), writes `decoded size` bytes into the block's
// output area at memory speed (the touch of every page a decoder writes),
// and writes them to the output with one call. A whole run divided by this
// is the decoder's share of the time.
//
//   io_floor IMAGE OUTPUT DECODED_SIZE

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: io_floor IMAGE OUTPUT DECODED_SIZE\n");
    return 2;
  }
  const int in = open(argv[1], O_RDONLY);
  struct stat status {};
  if (in < 0 || fstat(in, &status) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  const auto size = static_cast<std::size_t>(status.st_size);
  const std::size_t decoded = std::strtoull(argv[3], nullptr, 10);
  const std::size_t blockSize = 10 * size;
  if (decoded > blockSize - size) {
    std::fprintf(stderr, "io_floor: %zu decoded bytes do not fit a block of %zu\n", decoded,
                 blockSize);
    return 2;
  }
  auto* block = static_cast<unsigned char*>(std::calloc(1, blockSize));
  if (block == nullptr) return 1;
  std::size_t got = 0;
  for (ssize_t n; got < size && (n = read(in, block + got, size - got)) > 0;)
    got += static_cast<std::size_t>(n);
  close(in);
  if (got != size) return 1;

  unsigned char* output = block + size;
  std::memset(output, block[0] | 1, decoded);

  const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    std::perror(argv[2]);
    return 1;
  }
  const ssize_t written = write(out, output, decoded);
  const bool ok = written == static_cast<ssize_t>(decoded) && close(out) == 0;
  std::free(block);
  return ok ? 0 : 1;
}
