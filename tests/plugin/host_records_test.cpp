#include <gtest/gtest.h>

#include <cstring>

#include "plugin/talverin.h"

namespace talverin {
namespace {

// Size 52 fills the thirteen words; any other size leaves the block untouched.
TEST(FactoryDefaults, OnlySizeFiftyTwoFillsTheThirteenWords) {
  const int32_t defaults[13] = {0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 180, 1};
  int32_t untouched[13];
  std::memset(untouched, 0x55, sizeof untouched);
  for (int32_t size : {52, 51, 53, 0, -52}) {
    ConvertOptions options;
    static_assert(sizeof options == sizeof defaults, "thirteen words");
    std::memset(&options, 0x55, sizeof options);
    SetFactoryDefaults(size, &options);
    EXPECT_EQ(0, std::memcmp(&options, size == 52 ? defaults : untouched, sizeof defaults))
        << "size " << size;
  }
}

}  // namespace
}  // namespace talverin
