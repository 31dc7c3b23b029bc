// A growable array of plain values on malloc/realloc/free, for the encoder's
// workspace: it needs neither exceptions nor the C++ runtime, and a failed
// allocation is a return value. It keeps its memory until it is destroyed.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <type_traits>

namespace lzs {

template <typename T>
class Buffer {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer() { std::free(data_); }

  // n elements, the first min(n, size()) kept and the others undefined;
  // false (and the buffer unchanged) when the memory cannot be had.
  bool Resize(std::size_t n) {
    if (n > capacity_) {
      if (n > static_cast<std::size_t>(-1) / sizeof(T)) return false;
      void* grown = std::realloc(data_, n * sizeof(T));
      if (grown == nullptr) return false;
      data_ = static_cast<T*>(grown);
      capacity_ = n;
    }
    size_ = n;
    return true;
  }

  // n elements, each `value`.
  bool Assign(std::size_t n, T value) {
    if (!Resize(n)) return false;
    for (std::size_t k = 0; k < n; ++k) data_[k] = value;
    return true;
  }

  T* data() { return data_; }
  const T* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  T& operator[](std::size_t k) { return data_[k]; }
  const T& operator[](std::size_t k) const { return data_[k]; }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace lzs
