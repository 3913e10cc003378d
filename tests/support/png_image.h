// A PNG file decoded to 8-bit RGBA (through libpng) for the tests that look at rendered
// pages, such as headless Chromium's screenshots. A file libpng cannot read is refused with
// its reason.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talverin {
namespace testing_support {

struct PngImage {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgba;  // width * height * 4

  const uint8_t* Pixel(int32_t x, int32_t y) const {
    return &rgba[(static_cast<size_t>(y) * width + x) * 4];
  }
};

// True with the image, false with the reason in error.
bool ReadPng(const std::string& path, PngImage* image, std::string* error);

}  // namespace testing_support
}  // namespace talverin
