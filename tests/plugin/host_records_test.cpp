#include <gtest/gtest.h>

#include <cstring>

#include "plugin/talverin.h"

namespace talverin {
namespace {

TEST(FactoryDefaults, SizeFiftyTwoFillsTheThirteenWords) {
  ConvertOptions options;
  std::memset(&options, 0x55, sizeof options);
  SetFactoryDefaults(52, &options);
  const int32_t expected[13] = {0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 180, 1};
  EXPECT_EQ(0, std::memcmp(&options, expected, sizeof expected));
}

TEST(FactoryDefaults, AnyOtherSizeLeavesTheBlockUntouched) {
  for (int32_t size : {51, 53, 0, -52}) {
    ConvertOptions options;
    std::memset(&options, 0x55, sizeof options);
    SetFactoryDefaults(size, &options);
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&options);
    for (size_t i = 0; i < sizeof options; ++i) ASSERT_EQ(0x55, bytes[i]) << "size " << size;
  }
}

}  // namespace
}  // namespace talverin
