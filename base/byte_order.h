// Little-endian field access for the packed binary files the module reads and writes
// (observation, ephemeris and GPB files). Values are assembled from bytes by shifts;
// floats and doubles take their bit pattern through memcpy. Every record is read from its
// own byte buffer: ByteCursor bounds each access and keeps a sticky error, so a record is
// read field by field and checked once. No alignment is ever assumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace talverin {

inline uint16_t LoadU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t LoadU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t LoadU64(const uint8_t* p) {
  return static_cast<uint64_t>(LoadU32(p)) | (static_cast<uint64_t>(LoadU32(p + 4)) << 32);
}
inline int16_t LoadI16(const uint8_t* p) { return static_cast<int16_t>(LoadU16(p)); }
inline int32_t LoadI32(const uint8_t* p) { return static_cast<int32_t>(LoadU32(p)); }
inline float LoadF32(const uint8_t* p) {
  const uint32_t bits = LoadU32(p);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
inline double LoadF64(const uint8_t* p) {
  const uint64_t bits = LoadU64(p);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

inline void StoreU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
// Written out byte by byte (no loop) so that the compiler merges the stores into one.
inline void StoreU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
inline void StoreU64(uint8_t* p, uint64_t v) {
  StoreU32(p, static_cast<uint32_t>(v));
  StoreU32(p + 4, static_cast<uint32_t>(v >> 32));
}
inline void StoreI16(uint8_t* p, int16_t v) { StoreU16(p, static_cast<uint16_t>(v)); }
inline void StoreI32(uint8_t* p, int32_t v) { StoreU32(p, static_cast<uint32_t>(v)); }
inline void StoreF32(uint8_t* p, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  StoreU32(p, bits);
}
inline void StoreF64(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  StoreU64(p, bits);
}

// Sum of n bytes, as the files' checksums add them one by one: eight at a time (pairs into
// four 16-bit lanes, then the lanes into the top one), the rest singly.
inline uint32_t ByteSum(const uint8_t* p, size_t n) {
  constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FFull;
  constexpr uint64_t kAddLanes = 0x0001000100010001ull;
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const uint64_t word = LoadU64(p + i);
    const uint64_t pairs = (word & kEvenBytes) + ((word >> 8) & kEvenBytes);  // lanes <= 510
    sum += static_cast<uint32_t>((pairs * kAddLanes) >> 48);                  // <= 2040
  }
  for (; i < n; ++i) sum += p[i];
  return sum;
}

// Bounded reader over one record's bytes. An access past the end yields 0 and sets the
// sticky error; callers read every field and test ok() once.
class ByteCursor {
 public:
  ByteCursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t U8(size_t offset) { return Fits(offset, 1) ? data_[offset] : 0; }
  int8_t I8(size_t offset) { return static_cast<int8_t>(U8(offset)); }
  uint16_t U16(size_t offset) { return Fits(offset, 2) ? LoadU16(data_ + offset) : 0; }
  int16_t I16(size_t offset) { return Fits(offset, 2) ? LoadI16(data_ + offset) : 0; }
  uint32_t U32(size_t offset) { return Fits(offset, 4) ? LoadU32(data_ + offset) : 0; }
  int32_t I32(size_t offset) { return Fits(offset, 4) ? LoadI32(data_ + offset) : 0; }
  float F32(size_t offset) { return Fits(offset, 4) ? LoadF32(data_ + offset) : 0.0f; }
  double F64(size_t offset) { return Fits(offset, 8) ? LoadF64(data_ + offset) : 0.0; }

  bool ok() const { return !failed_; }

 private:
  bool Fits(size_t offset, size_t width) {
    if (offset > size_ || width > size_ - offset) {
      failed_ = true;
      return false;
    }
    return true;
  }

  const uint8_t* data_;
  size_t size_;
  bool failed_ = false;
};

}  // namespace talverin
