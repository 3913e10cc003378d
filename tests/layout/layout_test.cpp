// The include rules of the README's "Layout" table, checked on the sources: a folder includes
// only itself and the folders its row lists, each row lists only folders above it in the
// table (so the graph has no cycle), and every top-level folder with C++ sources has a row.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

struct LayoutRow {
  bool any = false;               // "any": tests, benchmarks, fuzzing
  std::set<std::string> allowed;  // the folder itself and the folders its row lists
};

fs::path SourceDir() {
  const char* fromEnvironment = std::getenv("TALVERIN_SOURCE_DIR");
  return fromEnvironment && *fromEnvironment ? fromEnvironment : TALVERIN_SOURCE_DIR;
}

bool IsSource(const fs::path& p) { return p.extension() == ".h" || p.extension() == ".cpp"; }

// Rows of the table under "## Layout": | `folder/` | what it holds | `a` `b` ... or any |.
// A row may only list folders of the rows above it.
std::map<std::string, LayoutRow> ReadLayoutTable() {
  std::ifstream readme(SourceDir() / "README.md");
  static const std::regex kRow(R"(^\| `([a-z_]+)/` \|[^|]*\|([^|]*)\|$)");
  static const std::regex kName("`([a-z_]+)`");
  std::map<std::string, LayoutRow> rows;
  bool inLayout = false;
  std::string line;
  std::smatch m;
  while (std::getline(readme, line)) {
    if (line.rfind("## ", 0) == 0) inLayout = line == "## Layout";
    if (!inLayout || !std::regex_match(line, m, kRow)) continue;
    const std::string folder = m[1], cell = m[2];
    LayoutRow row;
    row.any = cell.find("any") != std::string::npos;
    for (std::sregex_iterator it(cell.begin(), cell.end(), kName), end; it != end; ++it) {
      const std::string below = (*it)[1];
      EXPECT_TRUE(rows.count(below))
          << "README row " << folder << " lists " << below << ", which has no row above it";
      row.allowed.insert(below);
    }
    row.allowed.insert(folder);
    rows[folder] = row;
  }
  return rows;
}

TEST(Layout, EveryIncludeOfAShippedFolderIsAllowedByTheReadmeTable) {
  const std::map<std::string, LayoutRow> rows = ReadLayoutTable();
  ASSERT_TRUE(rows.count("base") && rows.count("cli") && rows.count("testkit"))
      << "README.md has no Layout table with rows for base/, cli/ and testkit/";
  static const std::regex kInclude(R"(^\s*#\s*include\s*"([^"/]+)/[^"]*")");
  int includesChecked = 0;
  for (const auto& [folder, row] : rows) {
    if (row.any) continue;
    for (const auto& entry : fs::recursive_directory_iterator(SourceDir() / folder)) {
      if (!entry.is_regular_file() || !IsSource(entry.path())) continue;
      std::ifstream source(entry.path());
      std::string line;
      std::smatch m;
      for (int lineNo = 1; std::getline(source, line); ++lineNo) {
        if (!std::regex_search(line, m, kInclude)) continue;
        ++includesChecked;
        EXPECT_TRUE(row.allowed.count(m[1]))
            << fs::relative(entry.path(), SourceDir()).string() << ":" << lineNo << ": " << line
            << " (" << folder << "/ may not include " << m[1] << "/, see README.md Layout)";
      }
    }
  }
  EXPECT_GT(includesChecked, 100);
}

TEST(Layout, EveryTopLevelFolderWithSourcesHasARow) {
  const std::map<std::string, LayoutRow> rows = ReadLayoutTable();
  for (const auto& top : fs::directory_iterator(SourceDir())) {
    const std::string name = top.path().filename().string();
    if (!top.is_directory() || name[0] == '.' || name.rfind("build", 0) == 0) continue;
    for (const auto& entry : fs::recursive_directory_iterator(top.path())) {
      if (entry.is_regular_file() && IsSource(entry.path())) {
        EXPECT_TRUE(rows.count(name)) << name << "/ holds " << entry.path().filename().string()
                                      << " but has no row in README.md's Layout table";
        break;
      }
    }
  }
}

}  // namespace
