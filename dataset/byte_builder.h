// Growing little-endian byte buffer for the download-set writers (tests and tools, not part
// of the module), and a whole-file writer. Fields are appended in file order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talverin {

class ByteBuilder {
 public:
  void U8(uint8_t v) { bytes_.push_back(v); }
  void I8(int8_t v) { U8(static_cast<uint8_t>(v)); }
  void U16(uint16_t v);
  void I16(int16_t v) { U16(static_cast<uint16_t>(v)); }
  void U32(uint32_t v);
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void F32(float v);
  void F64(double v);
  void Text(const std::string& text, size_t width);  // padded with NULs, cut to width
  void Zeros(size_t count) { bytes_.insert(bytes_.end(), count, 0); }
  void Append(const std::vector<uint8_t>& more) {
    bytes_.insert(bytes_.end(), more.begin(), more.end());
  }

  // Overwrites bytes already appended (for fixed-offset records built in place).
  void PutU8(size_t offset, uint8_t v) { bytes_.at(offset) = v; }
  void PutF64(size_t offset, double v);

  size_t size() const { return bytes_.size(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

// Writes bytes as the whole file; false when it cannot be written.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool WriteFileText(const std::string& path, const std::string& text);
// Reads a whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);

}  // namespace talverin
