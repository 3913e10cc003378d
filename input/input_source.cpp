#include "input/input_source.h"

#include <cstring>

#include "base/file_identity.h"

namespace talverin {

InputSource::~InputSource() {
  if (owned_ && file_ != nullptr) std::fclose(file_);
}

bool InputSource::Open(const char* path, const char* mode) {
  Attach(OpenRegularFile(path, mode));
  owned_ = file_ != nullptr;
  return owned_;
}

void InputSource::Attach(FILE* file) {
  if (owned_ && file_ != nullptr) std::fclose(file_);
  file_ = file;
  owned_ = false;
  bytes_ = nullptr;
  size_ = 0;
  position_ = 0;
}

void InputSource::AttachBytes(const uint8_t* bytes, size_t size) {
  Attach(nullptr);
  bytes_ = bytes;
  size_ = bytes != nullptr ? size : 0;
}

size_t InputSource::Read(uint8_t* out, size_t size) {
  if (file_ != nullptr) return std::fread(out, 1, size, file_);
  const size_t count = size < size_ - position_ ? size : size_ - position_;
  if (count > 0) std::memcpy(out, bytes_ + position_, count);
  position_ += count;
  return count;
}

bool InputSource::ReadLine(char* line, int size) {
  if (file_ != nullptr) return std::fgets(line, size, file_) != nullptr;
  if (size <= 0) return false;
  size_t n = 0;
  while (n + 1 < static_cast<size_t>(size) && position_ < size_) {
    const char c = static_cast<char>(bytes_[position_++]);
    line[n++] = c;
    if (c == '\n') break;
  }
  if (n == 0) return false;
  line[n] = '\0';
  return true;
}

long InputSource::Measure() {
  if (file_ == nullptr) {
    position_ = 0;
    return static_cast<long>(size_);
  }
  if (std::fseek(file_, 0, SEEK_END) != 0) return -1;
  const long length = std::ftell(file_);
  if (length < 0 || std::fseek(file_, 0, SEEK_SET) != 0) return -1;
  return length;
}

void InputSource::Rewind() {
  if (file_ != nullptr) std::rewind(file_);
  position_ = 0;
}

bool InputSource::failed() const { return file_ != nullptr && std::ferror(file_) != 0; }

}  // namespace talverin
