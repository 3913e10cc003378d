#include "dataset/byte_builder.h"

#include <cstdio>

#include "base/byte_order.h"

namespace talverin {

void ByteBuilder::U16(uint16_t v) {
  uint8_t b[2];
  StoreU16(b, v);
  bytes_.insert(bytes_.end(), b, b + 2);
}

void ByteBuilder::U32(uint32_t v) {
  uint8_t b[4];
  StoreU32(b, v);
  bytes_.insert(bytes_.end(), b, b + 4);
}

void ByteBuilder::F32(float v) {
  uint8_t b[4];
  StoreF32(b, v);
  bytes_.insert(bytes_.end(), b, b + 4);
}

void ByteBuilder::F64(double v) {
  uint8_t b[8];
  StoreF64(b, v);
  bytes_.insert(bytes_.end(), b, b + 8);
}

void ByteBuilder::Text(const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i) U8(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

void ByteBuilder::PutF64(size_t offset, double v) { StoreF64(&bytes_.at(offset + 7) - 7, v); }

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written =
      bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

bool WriteFileText(const std::string& path, const std::string& text) {
  return WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return bytes;
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
    bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(file);
  return bytes;
}

std::string ReadFileText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace talverin
