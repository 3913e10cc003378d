#include "tests/support/png_image.h"

#include <png.h>

namespace talverin {
namespace testing_support {

bool ReadPng(const std::string& path, PngImage* image, std::string* error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&png, path.c_str()) == 0) {
    *error = path + ": " + png.message;
    return false;
  }
  png.format = PNG_FORMAT_RGBA;
  image->width = static_cast<int32_t>(png.width);
  image->height = static_cast<int32_t>(png.height);
  image->rgba.resize(PNG_IMAGE_SIZE(png));
  if (png_image_finish_read(&png, nullptr, image->rgba.data(), 0, nullptr) == 0) {
    *error = path + ": " + png.message;
    return false;
  }
  return true;
}

}  // namespace testing_support
}  // namespace talverin
