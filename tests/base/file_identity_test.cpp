// The one same-file test of the module and the command line: paths compared once absolute,
// normal and with the links of their existing part resolved, else by the file system.
#include "base/file_identity.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/test_support.h"

namespace talverin {
namespace {

TEST(FileIdentity, SameFileThroughNamesLinksAndFilesNotYetWritten) {
  testing_support::TempDir dir;
  namespace fs = std::filesystem;
  fs::create_directory(dir.File("real"));
  std::ofstream(dir.File("real/B.162")) << "x";
  std::ofstream(dir.File("real/E.162")) << "x";
  fs::create_hard_link(dir.File("real/B.162"), dir.File("hard.162"));
  fs::create_directory_symlink(dir.File("real"), dir.File("link"));
  const struct {
    std::string a, b;
    bool same;
  } cases[] = {
      {dir.File("real/B.162"), dir.File("real/./x/../B.162"), true},
      {dir.File("real/B.162"), dir.File("hard.162"), true},
      {dir.File("real/B.162"), dir.File("link/B.162"), true},
      // Outputs not yet written name one file through a linked folder.
      {dir.File("real/out.gpb"), dir.File("link/out.gpb"), true},
      {dir.File("real/B.162"), dir.File("real/E.162"), false},
      {dir.File("real/out.gpb"), dir.File("real/out.sta"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.a + " " + c.b);
    EXPECT_EQ(c.same, SameFile(c.a.c_str(), c.b.c_str()));
  }
}

}  // namespace
}  // namespace talverin
