// The base of every Wine end-to-end test, and the checks they share.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wine_run.h"

namespace winetest {

// Why the Wine session is not up in this process; empty when it is.
const std::string& WineSessionProblem();

// Skips the test, saying why, when Wine cannot run here or a file it needs from the Windows
// build is missing; otherwise gives it a fresh folder.
class WineTest : public testing::Test {
 protected:
  // The files of the Windows build the test needs, by their paths inside the build folder.
  virtual std::vector<std::string> RequiredBuildFiles() const = 0;

  void SetUp() override;

  TestFolder folder_;
};

// One message box as a test expects it.
struct ExpectedBox {
  std::string caption;
  std::string text;
  std::string icon;           // "stop", "exclamation", "none"
  std::string buttons;        // "ok", "yes,no"
  std::string defaultButton;  // "ok", "no"
};

// Checks one seen box against the expectation, field by field.
void ExpectBox(const SeenBox& seen, const ExpectedBox& expected);

// Checks that the run showed exactly the expected boxes, each answered as planned, with nothing
// left over, and ended by itself with exitCode.
void ExpectRun(const ProgramRun& run, const std::vector<ExpectedBox>& expected, uint32_t exitCode);

// SizeOfImage from the PE header of a Windows program: every failure site lies inside its image.
uint32_t ImageSize(const std::string& programPath);

// Checks that box is the I/O failure report for the error number: caption "Error", no icon, an
// OK button, and the 29 characters "Runtime error", the number right-aligned in three places,
// " at " and a failure site of eight upper-case hexadecimal digits inside the program's image.
// Returns the site, or 0 when the text does not have that form.
uint32_t ExpectRuntimeErrorReport(const SeenBox& box, uint32_t number,
                                  const std::string& programPath);

// Names each instance of a table-driven test after its row.
template <typename Row>
std::string RowName(const testing::TestParamInfo<Row>& row) {
  return row.param.name;
}

}  // namespace winetest
