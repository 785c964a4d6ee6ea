// Finding the one LISTWIDTH= line of the [DESKTOP] section, and the four ways that can fail.
#include <string>

#include "common_helpers.h"
#include "test_support.h"
#include "width_locator.h"

namespace {

const char HeaderMissing[] = "\"[DESKTOP]\" が見つかりませんでした。\r\n処理を中止します。";
const char HeaderRepeated[] = "\"[DESKTOP]\" が、複数見つかりました。\r\n処理を中止します。";
const char EntryMissing[] = "\"LISTWIDTH=\" が見つかりませんでした。\r\n処理を中止します。";
const char EntryRepeated[] = "\"LISTWIDTH=\" が、複数見つかりました。\r\n処理を中止します。";

struct LocateCase {
  const char* name;
  std::string file;
  int32_t index;        // the located line, or -1
  const char* message;  // the box shown, or nullptr
};

std::string ManyLines(int count) {
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += "k" + std::to_string(i) + "=v\r\n";
  }
  return text;
}

const LocateCase LocateCases[] = {
    {"header and entry", "[DESKTOP]\r\nLISTWIDTH=430\r\n", 1, nullptr},
    {"entry further down the section", "x\r\n[DESKTOP]\r\nA=1\r\nB=2\r\nLISTWIDTH=5\r\n\r\nC=3", 4, nullptr},
    {"entry as last line without line end", "[DESKTOP]\r\nA=1\r\nLISTWIDTH=7", 2, nullptr},
    {"key inside a longer word", "[DESKTOP]\r\nOLDLISTWIDTH=5\r\n", 1, nullptr},
    {"key after other text", "[DESKTOP]\r\nA=1 LISTWIDTH=9\r\n", 1, nullptr},
    {"entry of a following section without empty line", "[DESKTOP]\r\nA=1\r\n[OTHER]\r\nLISTWIDTH=3\r\n", 3, nullptr},
    {"blank line does not end the scan", "[DESKTOP]\r\n \r\nLISTWIDTH=3\r\n", 2, nullptr},
    {"entry above the header is not seen", "LISTWIDTH=1\r\n[DESKTOP]\r\nLISTWIDTH=2\r\n", 2, nullptr},
    {"entry below the empty line is not seen", "[DESKTOP]\r\nLISTWIDTH=2\r\n\r\nLISTWIDTH=3\r\n", 1, nullptr},
    {"empty file", "", -1, HeaderMissing},
    {"header with trailing blank", "[DESKTOP] \r\nLISTWIDTH=1\r\n", -1, HeaderMissing},
    {"header with leading blank", " [DESKTOP]\r\nLISTWIDTH=1\r\n", -1, HeaderMissing},
    {"header in lower case", "[desktop]\r\nLISTWIDTH=1\r\n", -1, HeaderMissing},
    {"LF-only file is one line", "[DESKTOP]\nLISTWIDTH=1\n", -1, HeaderMissing},
    {"header after Ctrl-Z is not seen", "a\r\n\x1A[DESKTOP]\r\nLISTWIDTH=1\r\n", -1, HeaderMissing},
    {"header beyond line 1000", ManyLines(1000) + "[DESKTOP]\r\nLISTWIDTH=1\r\n", -1, HeaderMissing},
    {"header twice far apart", "[DESKTOP]\r\nLISTWIDTH=1\r\n\r\n[X]\r\n\r\n[DESKTOP]\r\n", -1, HeaderRepeated},
    {"header twice with no entries", "[DESKTOP]\r\n[DESKTOP]\r\n", -1, HeaderRepeated},
    {"header as last line", "A=1\r\n[DESKTOP]", -1, EntryMissing},
    {"header as last line with line end", "A=1\r\n[DESKTOP]\r\n", -1, EntryMissing},
    {"empty line right after header", "[DESKTOP]\r\n\r\nLISTWIDTH=1\r\n", -1, EntryMissing},
    {"lower-case key", "[DESKTOP]\r\nlistwidth=1\r\n", -1, EntryMissing},
    {"blank before equals sign", "[DESKTOP]\r\nLISTWIDTH =1\r\n", -1, EntryMissing},
    {"key without equals sign", "[DESKTOP]\r\nLISTWIDTH\r\n", -1, EntryMissing},
    {"entry beyond line 1000", "[DESKTOP]\r\n" + ManyLines(999) + "LISTWIDTH=1\r\n", -1, EntryMissing},
    {"two identical entries", "[DESKTOP]\r\nLISTWIDTH=1\r\nLISTWIDTH=1\r\n", -1, EntryRepeated},
    {"entry in the section and the next", "[DESKTOP]\r\nLISTWIDTH=1\r\n[X]\r\nOLDLISTWIDTH=2\r\n", -1, EntryRepeated},
    {"key twice on one line counts once", "[DESKTOP]\r\nLISTWIDTH=LISTWIDTH=1\r\n", 1, nullptr},
};

class Locator : public DoubleTest {};

TEST_F(Locator, FindsTheEntryOrSaysWhyNot) {
  for (const LocateCase& c : LocateCases) {
    SetUp();
    ProgramCaption = "Caption";
    fake::PutFile("Qtv.ini", c.file);
    ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u) << c.name;
    bool found = LocateWidthLine();
    EXPECT_EQ(found, c.message == nullptr) << c.name;
    if (found) {
      EXPECT_EQ(WidthLineIndex, c.index) << c.name;
      EXPECT_TRUE(fake::Double.boxes.empty()) << c.name;
    } else {
      EXPECT_EQ(ShownBoxes(), std::vector<std::string>{std::string("Caption|") + c.message + "|0x10010"})
          << c.name;
    }
  }
}

}  // namespace
