#include "tests/support/png_image.h"

#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace talverin {
namespace testing_support {
namespace {

uint32_t Big32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

}  // namespace

bool ReadPng(const std::string& path, PngImage* image, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  if (file.size() < 8 || !std::equal(kSignature, kSignature + 8, file.begin())) {
    *error = path + ": not a PNG file";
    return false;
  }
  std::vector<uint8_t> compressed;
  int channels = 0;
  for (size_t at = 8; at + 12 <= file.size();) {
    const uint32_t length = Big32(&file[at]);
    if (at + 12 + length > file.size()) break;
    const std::string type(reinterpret_cast<const char*>(&file[at + 4]), 4);
    const uint8_t* body = &file[at + 8];
    if (type == "IHDR") {
      image->width = static_cast<int32_t>(Big32(body));
      image->height = static_cast<int32_t>(Big32(body + 4));
      channels = body[9] == 6 ? 4 : body[9] == 2 ? 3 : 0;
      if (body[8] != 8 || channels == 0 || body[12] != 0) {
        *error = path + ": only 8-bit RGB or RGBA without interlace is read";
        return false;
      }
    } else if (type == "IDAT") {
      compressed.insert(compressed.end(), body, body + length);
    }
    at += 12 + length;
  }
  const size_t stride = static_cast<size_t>(image->width) * channels;
  std::vector<uint8_t> raw((stride + 1) * image->height);
  uLongf rawSize = raw.size();
  if (channels == 0 || uncompress(raw.data(), &rawSize, compressed.data(), compressed.size()) != Z_OK ||
      rawSize != raw.size()) {
    *error = path + ": image data cannot be inflated";
    return false;
  }
  std::vector<uint8_t> previous(stride, 0), line(stride);
  image->rgba.assign(static_cast<size_t>(image->width) * image->height * 4, 255);
  for (int32_t y = 0; y < image->height; ++y) {
    const uint8_t filter = raw[y * (stride + 1)];
    const uint8_t* src = &raw[y * (stride + 1) + 1];
    for (size_t i = 0; i < stride; ++i) {
      const int a = i >= static_cast<size_t>(channels) ? line[i - channels] : 0;
      const int b = previous[i];
      const int c = i >= static_cast<size_t>(channels) ? previous[i - channels] : 0;
      const int predictor = filter == 1 ? a : filter == 2 ? b : filter == 3 ? (a + b) / 2
                          : filter == 4 ? Paeth(a, b, c) : 0;
      line[i] = static_cast<uint8_t>(src[i] + predictor);
    }
    for (int32_t x = 0; x < image->width; ++x) {
      for (int k = 0; k < channels; ++k) image->rgba[(static_cast<size_t>(y) * image->width + x) * 4 + k] = line[x * channels + k];
    }
    previous.swap(line);
  }
  return true;
}

}  // namespace testing_support
}  // namespace talverin
