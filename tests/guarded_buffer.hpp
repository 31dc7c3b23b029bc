// A buffer whose last usable byte lies right before an inaccessible page, so
// that a read or write one byte past its end faults.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// `size` usable bytes that end exactly where an inaccessible page begins.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(std::size_t size) : size_(size) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    mapped_ = (size + page - 1) / page * page + page;
    void* base = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) std::abort();
    base_ = static_cast<std::uint8_t*>(base);
    if (mprotect(base_ + mapped_ - page, page, PROT_NONE) != 0) std::abort();
    data_ = base_ + mapped_ - page - size;
  }
  ~GuardedBuffer() { munmap(base_, mapped_); }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  std::uint8_t* data() { return data_; }
  // Fills the buffer and the accessible bytes before it, so that a read
  // before the start also sees the fill.
  void Fill(std::uint8_t byte) {
    std::memset(base_, byte, static_cast<std::size_t>(data_ + size_ - base_));
  }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_;
  std::size_t mapped_;
  std::uint8_t* base_;
  std::uint8_t* data_;
};
