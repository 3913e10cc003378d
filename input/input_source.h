// Where the readers of the ephemeris, site and event files take their bytes from: a
// regular file opened by path (owned here), a stream the caller opened, or a byte range
// the caller holds. Reads as fread and fgets do, so the module's readers and the
// decode-only entry points of the tools see the same records and lines. No parsing, no
// messages, no temporary files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace talverin {

class InputSource {
 public:
  InputSource() = default;
  ~InputSource();
  InputSource(const InputSource&) = delete;
  InputSource& operator=(const InputSource&) = delete;

  // Opens path with mode when it names a regular file (base/file_identity.h); false when
  // it does not.
  [[nodiscard]] bool Open(const char* path, const char* mode);
  // Reads the caller's stream from its current position; the stream stays the caller's.
  void Attach(FILE* file);
  // Reads size bytes that the caller keeps alive while this source reads them.
  void AttachBytes(const uint8_t* bytes, size_t size);

  // As fread(out, 1, size, file): the bytes read, fewer at the end or on a read error.
  size_t Read(uint8_t* out, size_t size);
  // As fgets(line, size, file): up to size - 1 characters, through the first newline;
  // false when nothing is left.
  bool ReadLine(char* line, int size);
  // The length in bytes, read position back at the start; -1 when it cannot be measured.
  long Measure();
  // Back to the first byte.
  void Rewind();
  // True after a read error of the stream.
  bool failed() const;

 private:
  FILE* file_ = nullptr;
  bool owned_ = false;
  const uint8_t* bytes_ = nullptr;
  size_t size_ = 0;
  size_t position_ = 0;
};

}  // namespace talverin
