// Finding the one LISTWIDTH= line of the [DESKTOP] section, and the four ways that can fail.
#include <string>

#include "common_helpers.h"
#include "settings_text.h"
#include "test_support.h"
#include "width_locator.h"

namespace {

using support::FillerLines;

struct LocateCase {
  const char* name;
  std::string file;
  int32_t index;        // the located line, or -1
  const char* message;  // the box shown (UTF-8), or nullptr
};

class Locator : public DoubleTableTest<LocateCase> {};

TEST_P(Locator, FindsTheEntryOrSaysWhyNot) {
  const LocateCase& c = GetParam();
  ProgramCaption = "Caption";
  fake::PutFile("Qtv.ini", c.file);
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  bool found = LocateWidthLine();
  EXPECT_EQ(found, c.message == nullptr);
  if (found) {
    EXPECT_EQ(WidthLineIndex, c.index);
    EXPECT_TRUE(fake::Double.boxes.empty());
  } else {
    EXPECT_EQ(ShownBoxes(), std::vector<std::string>{ErrorBoxLine("Caption", c.message)});
  }
}

using texts::EntryMissing;
using texts::EntryRepeated;
using texts::HeaderMissing;
using texts::HeaderRepeated;

INSTANTIATE_TEST_SUITE_P(
    Rows, Locator,
    testing::Values(
        LocateCase{"HeaderAndEntry", "[DESKTOP]\r\nLISTWIDTH=430\r\n", 1, nullptr},
        LocateCase{"EntryFurtherDownTheSection",
                   "x\r\n[DESKTOP]\r\nA=1\r\nB=2\r\nLISTWIDTH=5\r\n\r\nC=3", 4, nullptr},
        LocateCase{"EntryAsLastLineWithoutLineEnd", "[DESKTOP]\r\nA=1\r\nLISTWIDTH=7", 2, nullptr},
        LocateCase{"KeyInsideALongerWord", "[DESKTOP]\r\nOLDLISTWIDTH=5\r\n", 1, nullptr},
        LocateCase{"KeyAfterOtherText", "[DESKTOP]\r\nA=1 LISTWIDTH=9\r\n", 1, nullptr},
        LocateCase{"EntryOfAFollowingSectionWithoutEmptyLine",
                   "[DESKTOP]\r\nA=1\r\n[OTHER]\r\nLISTWIDTH=3\r\n", 3, nullptr},
        // A line that begins like a section header is a line of the scan like any other.
        LocateCase{"KeyOnALineBeginningWithABracket", "[DESKTOP]\r\n[X]LISTWIDTH=1\r\n", 1,
                   nullptr},
        LocateCase{"KeyOnABracketLineAfterTheEntry",
                   "[DESKTOP]\r\nLISTWIDTH=1\r\n[X]LISTWIDTH=2\r\n", -1, EntryRepeated},
        LocateCase{"BlankLineDoesNotEndTheScan", "[DESKTOP]\r\n \r\nLISTWIDTH=3\r\n", 2, nullptr},
        LocateCase{"EntryAboveTheHeaderIsNotSeen", "LISTWIDTH=1\r\n[DESKTOP]\r\nLISTWIDTH=2\r\n", 2,
                   nullptr},
        LocateCase{"EntryBelowTheEmptyLineIsNotSeen",
                   "[DESKTOP]\r\nLISTWIDTH=2\r\n\r\nLISTWIDTH=3\r\n", 1, nullptr},
        LocateCase{"EmptyFile", "", -1, HeaderMissing},
        LocateCase{"HeaderWithTrailingBlank", "[DESKTOP] \r\nLISTWIDTH=1\r\n", -1, HeaderMissing},
        LocateCase{"HeaderWithLeadingBlank", " [DESKTOP]\r\nLISTWIDTH=1\r\n", -1, HeaderMissing},
        LocateCase{"HeaderInLowerCase", "[desktop]\r\nLISTWIDTH=1\r\n", -1, HeaderMissing},
        LocateCase{"LfOnlyFileIsOneLine", "[DESKTOP]\nLISTWIDTH=1\n", -1, HeaderMissing},
        LocateCase{"HeaderAfterCtrlZIsNotSeen", "a\r\n\x1A[DESKTOP]\r\nLISTWIDTH=1\r\n", -1,
                   HeaderMissing},
        LocateCase{"HeaderBeyondLine1000", FillerLines(1000) + "[DESKTOP]\r\nLISTWIDTH=1\r\n", -1,
                   HeaderMissing},
        LocateCase{"HeaderTwiceFarApart",
                   "[DESKTOP]\r\nLISTWIDTH=1\r\n\r\n[X]\r\n\r\n[DESKTOP]\r\n", -1, HeaderRepeated},
        LocateCase{"HeaderTwiceWithNoEntries", "[DESKTOP]\r\n[DESKTOP]\r\n", -1, HeaderRepeated},
        LocateCase{"HeaderAsLastLine", "A=1\r\n[DESKTOP]", -1, EntryMissing},
        LocateCase{"HeaderAsLastLineWithLineEnd", "A=1\r\n[DESKTOP]\r\n", -1, EntryMissing},
        LocateCase{"EmptyLineRightAfterHeader", "[DESKTOP]\r\n\r\nLISTWIDTH=1\r\n", -1,
                   EntryMissing},
        LocateCase{"LowerCaseKey", "[DESKTOP]\r\nlistwidth=1\r\n", -1, EntryMissing},
        LocateCase{"BlankBeforeEqualsSign", "[DESKTOP]\r\nLISTWIDTH =1\r\n", -1, EntryMissing},
        LocateCase{"KeyWithoutEqualsSign", "[DESKTOP]\r\nLISTWIDTH\r\n", -1, EntryMissing},
        LocateCase{"EntryBeyondLine1000", "[DESKTOP]\r\n" + FillerLines(999) + "LISTWIDTH=1\r\n",
                   -1, EntryMissing},
        LocateCase{"TwoIdenticalEntries", "[DESKTOP]\r\nLISTWIDTH=1\r\nLISTWIDTH=1\r\n", -1,
                   EntryRepeated},
        LocateCase{"EntryInTheSectionAndTheNext",
                   "[DESKTOP]\r\nLISTWIDTH=1\r\n[X]\r\nOLDLISTWIDTH=2\r\n", -1, EntryRepeated},
        LocateCase{"KeyTwiceOnOneLineCountsOnce", "[DESKTOP]\r\nLISTWIDTH=LISTWIDTH=1\r\n", 1,
                   nullptr}),
    RowName<LocateCase>);

}  // namespace
