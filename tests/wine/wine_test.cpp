#include "wine_test.h"

#include <unistd.h>

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

}  // namespace winetest
