// Reads fuzzer input as a stream of decisions.
//
// Past the end every read yields zero, so a decoder driven by it always
// terminates, and zero is chosen to mean "the smallest, most ordinary choice"
// wherever a decoder reads one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace DralFuzz {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

  bool Empty() const noexcept { return position_ >= size_; }
  std::size_t Position() const noexcept { return position_; }
  std::size_t Remaining() const noexcept { return Empty() ? 0 : size_ - position_; }

  std::uint8_t Byte() noexcept { return Empty() ? 0 : data_[position_++]; }
  bool Bool() noexcept { return (Byte() & 1) != 0; }

  // Little-endian, so that a short tail still gives a small number.
  std::uint64_t Number(unsigned bytes) noexcept {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < bytes; ++i) value |= static_cast<std::uint64_t>(Byte()) << (8 * i);
    return value;
  }

  // A choice among `n` (1 to 256) alternatives.
  std::size_t Choose(std::size_t n) noexcept { return n <= 1 ? 0 : Byte() % n; }

  // A depth: one byte, or after the marker bytes D7 EE three bytes (up to
  // 16M). The marker keeps huge depths rare while mutating, yet five bytes
  // of a seed reach them.
  std::size_t Depth() noexcept {
    const std::uint8_t first = Byte();
    if (first != 0xD7) return first;
    const std::uint8_t second = Byte();
    if (second != 0xEE) return second;
    return static_cast<std::size_t>(Number(3));
  }

  // Up to `n` bytes; fewer at the end of the input.
  std::string Bytes(std::size_t n) {
    const std::size_t take = n < Remaining() ? n : Remaining();
    std::string out(reinterpret_cast<const char*>(data_ + position_), take);
    position_ += take;
    return out;
  }

  // A length byte, then that many bytes.
  std::string ShortString() { return Bytes(Byte()); }

  std::string Rest() { return Bytes(Remaining()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace DralFuzz
