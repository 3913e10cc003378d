// Station file text for the site, mark, event and output tests: the header line every .sta
// file starts with, one block as the writer lays it out (vertical height, week 0), the
// body of a file after its header line, and a job whose station file is open.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "dataset/byte_builder.h"
#include "job/conversion_job.h"
#include "tests/support/test_support.h"

namespace talverin {

constexpr char kStaHeader[] = "$STAINFO Ver7.00 TALVERIN\n";

inline std::string Block(const std::string& name, const std::string& desc,
                         const std::string& remark, const std::string& time,
                         const std::string& height) {
  std::string text = "Sta {\n\tID: \"" + name + "\"\n";
  if (!desc.empty()) text += "\tDesc: \"" + desc + "\"\n";
  if (!remark.empty()) text += "\tRem: \"" + remark + "\"\n";
  return text + "\tGTim: " + time + " 0\n\tHi: " + height + " VERT\n}\n";
}

// The text after the header line; "<no header>" when the file does not start with it.
inline std::string StaBody(const std::string& text) {
  const size_t header = sizeof kStaHeader - 1;
  if (text.compare(0, header, kStaHeader) != 0) return "<no header>" + text;
  return text.substr(header);
}

// A job whose station file is open in a scratch directory, its header line written.
struct StaJob {
  StaJob() : path(dir.File("out.sta")) {
    job.staFile = std::fopen(path.c_str(), "w");
    if (job.staFile != nullptr) std::fputs(kStaHeader, job.staFile);
  }
  // The station file after its header line.
  std::string Blocks() {
    if (job.staFile != nullptr) std::fflush(job.staFile);
    return StaBody(ReadFileText(path));
  }
  testing_support::TempDir dir;
  std::string path;
  ConversionJob job;
};

}  // namespace talverin
