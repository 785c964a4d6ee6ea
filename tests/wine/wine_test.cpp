#include "wine_test.h"

#include <unistd.h>

#include <cstdio>
#include <regex>

#include "program_texts.h"

namespace winetest {

void WineTest::SetUp() {
  if (!WineSessionProblem().empty()) {
    GTEST_SKIP() << "Wine is not available: " << WineSessionProblem();
  }
  for (const std::string& file : RequiredBuildFiles()) {
    if (access(WindowsBuildFile(file).c_str(), R_OK) != 0) {
      GTEST_SKIP() << WindowsBuildFile(file)
                   << " is not built (Windows build folder: " << WindowsBuildDir() << ")";
    }
  }
}

void ExpectBox(const SeenBox& seen, const ExpectedBox& expected) {
  EXPECT_EQ(seen.caption, expected.caption);
  EXPECT_EQ(seen.text, expected.text);
  EXPECT_EQ(seen.icon, expected.icon);
  EXPECT_EQ(seen.buttons, expected.buttons);
  EXPECT_EQ(seen.defaultButton, expected.defaultButton);
}

void ExpectRun(const ProgramRun& run, const std::vector<ExpectedBox>& expected, uint32_t exitCode) {
  SCOPED_TRACE("box_reader report:\n" + run.report);
  EXPECT_TRUE(run.problems.empty());
  ASSERT_EQ(run.boxes.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("box " + std::to_string(i + 1));
    EXPECT_TRUE(run.boxes[i].expected);
    ExpectBox(run.boxes[i], expected[i]);
  }
  EXPECT_TRUE(run.ended);
  EXPECT_EQ(run.exitCode, exitCode);
}

uint32_t ImageSize(const std::string& programPath) {
  std::string bytes = ReadWholeFile(programPath);
  auto at = [&](size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4 && offset + i < bytes.size(); ++i) {
      value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    }
    return value;
  };
  constexpr size_t PeOffsetField = 0x3C;
  constexpr size_t SizeOfImageInOptionalHeader = 24 + 56;  // after "PE\0\0" and the file header
  return at(at(PeOffsetField) + SizeOfImageInOptionalHeader);
}

uint32_t ExpectRuntimeErrorReport(const SeenBox& box, uint32_t number,
                                  const std::string& programPath) {
  EXPECT_EQ(box.caption, texts::ReportCaption);
  EXPECT_EQ(box.icon, "none");
  EXPECT_EQ(box.buttons, "ok");
  EXPECT_EQ(box.text.size(), 29u) << box.text;
  char start[32];
  std::snprintf(start, sizeof start, "%s%3u at ", texts::ReportStart,
                static_cast<unsigned>(number));
  std::smatch match;
  if (!std::regex_match(box.text, match, std::regex(std::string(start) + "([0-9A-F]{8})"))) {
    ADD_FAILURE() << "expected \"" << start << "XXXXXXXX\", got \"" << box.text << "\"";
    return 0;
  }
  auto site = static_cast<uint32_t>(std::stoul(match[1].str(), nullptr, 16));
  EXPECT_GT(site, 0u);
  EXPECT_LT(site, ImageSize(programPath));
  return site;
}

}  // namespace winetest
