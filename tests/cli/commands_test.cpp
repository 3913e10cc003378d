// The commands are library functions: info's result, called without starting a process, on
// the bundled BAHR hour (120 epochs every 30 s from 2004-06-10 00:00:00 GPS) and a set whose
// B file is missing.
#include <gtest/gtest.h>

#include <string>

#include "cli/commands.h"
#include "tests/rinex/rinex_test_data.h"
#include "tests/support/test_support.h"

namespace talverin_cli {
namespace {

TEST(Commands, InfoGivesItsResultWithoutAProcess) {
  talverin::testing_support::TempDir dir;
  const std::string set = talverin::rinex_test::ImportSet(
                              talverin::rinex_test::SampleFile("bahr1620.04o"),
                              talverin::rinex_test::SampleFile("bahr1620.04n"), dir.File("set"))
                              .observationFile;
  ASSERT_FALSE(set.empty());
  InfoArgs args;
  args.sets.inputs = {set, dir.File("BMISSA04.162")};
  const InfoResult r = Info(args);
  ASSERT_EQ(2u, r.sets.size());
  EXPECT_EQ(0, r.sets[0].status);
  EXPECT_EQ(120, r.sets[0].scan.epochs);
  EXPECT_EQ(1274, r.sets[0].scan.week.week);
  EXPECT_EQ(2, r.sets[1].status);
  EXPECT_EQ(2, r.status);
}

}  // namespace
}  // namespace talverin_cli
