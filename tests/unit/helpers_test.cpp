// The shared helpers: the file-existence test, the attribute pair, the error box and the
// I/O failure report.
#include <cstring>
#include <string>

#include "common_helpers.h"
#include "runtime_error.h"
#include "test_support.h"

namespace {

class Helpers : public DoubleTest {};

struct PresenceCase {
  const char* name;
  uint32_t attributes;
};

class Presence : public DoubleTableTest<PresenceCase> {};

TEST_P(Presence, IgnoresAttributes) {
  fake::PutFile("f", "", GetParam().attributes);
  EXPECT_TRUE(FileIsPresent("f"));
}

INSTANTIATE_TEST_SUITE_P(Rows, Presence,
                         testing::Values(PresenceCase{"Archive", FILE_ATTRIBUTE_ARCHIVE_BIT},
                                         PresenceCase{"ReadOnly", FILE_ATTRIBUTE_READONLY_BIT},
                                         PresenceCase{
                                             "HiddenSystem",
                                             FILE_ATTRIBUTE_HIDDEN_BIT | FILE_ATTRIBUTE_SYSTEM_BIT},
                                         PresenceCase{"Normal", FILE_ATTRIBUTE_NORMAL_VALUE}),
                         RowName<PresenceCase>);

TEST_F(Helpers, PresenceDeniesDirectoriesAndMissingNames) {
  fake::Double.files["d"].isDirectory = true;
  EXPECT_FALSE(FileIsPresent("d"));
  EXPECT_FALSE(FileIsPresent("missing"));
}

TEST_F(Helpers, AttributesPassThroughUnchanged) {
  fake::PutFile("f", "", 0x27);
  EXPECT_EQ(GetAttributes("f"), 0x27u);
  EXPECT_EQ(GetAttributes("missing"), INVALID_ATTRIBUTES_VALUE);
  EXPECT_EQ(SetAttributes("f", FILE_ATTRIBUTE_NORMAL_VALUE), 0u);
  EXPECT_EQ(fake::Double.files["f"].attributes, FILE_ATTRIBUTE_NORMAL_VALUE);
  EXPECT_EQ(SetAttributes("missing", FILE_ATTRIBUTE_NORMAL_VALUE), ERROR_FILE_NOT_FOUND_CODE);
  EXPECT_FALSE(fake::FileExists("missing"));
  fake::FailCall(fake::Op::SetFileAttributes, 3, ERROR_ACCESS_DENIED_CODE);
  EXPECT_EQ(SetAttributes("f", 0x20), ERROR_ACCESS_DENIED_CODE);
}

TEST_F(Helpers, ErrorBoxCarriesTheProgramCaptionAndStopIcon) {
  const std::string caption = texts::ProgramBytes(texts::RepairCaption);
  BeginProgram(caption.c_str());
  ShowErrorBox("text");
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{ErrorBoxLine(texts::RepairCaption, "text")});
}

struct ReportCase {
  const char* name;
  uint32_t number;
  uint32_t site;
  const char* layout;  // what follows the report's start
};

class ReportText : public testing::TestWithParam<ReportCase> {};

TEST_P(ReportText, LaysOutNumberAndSite) {
  const ReportCase& c = GetParam();
  char report[ReportBufferSize];
  FormatRuntimeErrorReport(c.number, c.site, report);
  EXPECT_EQ(report, texts::ReportStart + std::string(c.layout));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReportText,
    testing::Values(ReportCase{"OneDigit", 5, 0x0000ABCD, "  5 at 0000ABCD"},
                    ReportCase{"TwoDigits", 32, 0x00401A2F, " 32 at 00401A2F"},
                    ReportCase{"ThreeDigitsAndTheHighestSite", 203, 0xFFFFFFFF, "203 at FFFFFFFF"},
                    ReportCase{"FourDigitsWidenTheField", 1117, 0x10, "1117 at 00000010"},
                    ReportCase{"TheLargestNumber", 4294967295u, 0, "4294967295 at 00000000"}),
    RowName<ReportCase>);

TEST(ReportLength, IsTheNamedLengthForShortNumbers) {
  char report[ReportBufferSize];
  FormatRuntimeErrorReport(2, 0x1234, report);
  EXPECT_EQ(std::strlen(report), ReportTextLength);
}

TEST_F(Helpers, ReportShowsAPlainErrorBoxAndEndsWithTheNumber) {
  uint32_t exitCode = fake::RunProgram([] { RuntimeErrorExit(32, 0xABC); });
  EXPECT_EQ(exitCode, 32u);
  EXPECT_EQ(ShownBoxes(),
            std::vector<std::string>{BoxLine(
                texts::ReportCaption, texts::ReportStart + std::string(" 32 at 00000ABC"), 0)});
}

// Two distinct places that run the file operation test; kept out of line so that each is one
// place in the code, however often it is called.
__attribute__((noinline)) uint32_t FailAtFirstPlace(uint32_t number) {
  return fake::RunProgram([number] { TestFileOperation(number); });
}
__attribute__((noinline)) uint32_t FailAtSecondPlace(uint32_t number) {
  return fake::RunProgram([number] { TestFileOperation(number); });
}

std::string SiteOfLastReport() { return fake::Double.boxes.back().text.substr(21); }

TEST_F(Helpers, FileOperationTestPassesZeroAndReportsItsOwnSite) {
  EXPECT_EQ(FailAtFirstPlace(0), 0u);
  EXPECT_TRUE(fake::Double.boxes.empty());

  EXPECT_EQ(FailAtFirstPlace(5), 5u);
  std::string first = SiteOfLastReport();
  EXPECT_EQ(FailAtFirstPlace(2), 2u);
  EXPECT_EQ(SiteOfLastReport(), first) << "the same place must report the same site";
  EXPECT_EQ(FailAtSecondPlace(5), 5u);
  EXPECT_NE(SiteOfLastReport(), first) << "another place must report another site";
  EXPECT_EQ(first.size(), 8u);
  EXPECT_EQ(first.find_first_not_of("0123456789ABCDEF"), std::string::npos) << first;
}

}  // namespace
