// How the settings file is cut into lines, and what writing the store back gives.
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;

const std::string LongLine(300, 'w');  // runs across several 128-byte refills

struct ReadCase {
  const char* name;
  std::string file;
  Lines lines;
};

const ReadCase ReadCases[] = {
    {"empty file is one empty line", "", {""}},
    {"header and entry with CR LF", "[DESKTOP]\r\nLISTWIDTH=430\r\n", {"[DESKTOP]", "LISTWIDTH=430"}},
    {"last line without line end", "a\r\nb", {"a", "b"}},
    {"CR alone ends a line", "a\rb\r", {"a", "b"}},
    {"LF alone does not end a line", "a\nb\nc\n", {"a\nb\nc\n"}},
    {"CR CR LF gives a line and an empty line", "a\r\r\nb", {"a", "", "b"}},
    {"LF CR stays in the line", "a\n\rb", {"a\n", "b"}},
    {"two line ends at the end give a trailing empty line", "a\r\n\r\n", {"a", ""}},
    {"only a line end", "\r\n", {""}},
    {"NUL bytes are line text", std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}},
    {"Ctrl-Z as last byte", "a\r\nb\r\n\x1A", {"a", "b"}},
    {"Ctrl-Z inside a line ends the text", "a\r\nb\x1A" "c\r\n[DESKTOP]\r\n", {"a", "b"}},
    {"Ctrl-Z first", "\x1A" "a\r\n", {""}},
    {"Ctrl-Z right after CR", "a\r\x1A\nb", {"a"}},
    {"line across refills", LongLine + "\r\nx", {LongLine, "x"}},
    {"CR LF split across a refill", std::string(127, 'a') + "\r\nb", {std::string(127, 'a'), "b"}},
    {"line of exactly 128 bytes", std::string(128, 'a') + "\r\nb", {std::string(128, 'a'), "b"}},
    {"code page 932 bytes pass through", "\x83\x58\x83\x8C\r\n\x8E\x5C", {"\x83\x58\x83\x8C", "\x8E\x5C"}},
};

class ReadingRules : public DoubleTest {};

TEST_F(ReadingRules, CutsTheFileIntoLines) {
  for (const ReadCase& c : ReadCases) {
    SetUp();
    fake::PutFile("Qtv.ini", c.file);
    ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u) << c.name;
    EXPECT_EQ(SettingsLines, c.lines) << c.name << ": read from " << Visible(c.file);
    EXPECT_EQ(LineCount, static_cast<int32_t>(c.lines.size())) << c.name;
  }
}

std::string NumberedLines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) {
    text += "line" + std::to_string(i) + "\r\n";
  }
  return text;
}

TEST_F(ReadingRules, StoreHoldsAtMostATousandLines) {
  struct {
    int fileLines;
    int32_t stored;
  } cases[] = {{999, 999}, {1000, 1000}, {1001, 1000}, {2500, 1000}};
  for (const auto& c : cases) {
    SetUp();
    fake::PutFile("Qtv.ini", NumberedLines(c.fileLines));
    ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
    EXPECT_EQ(LineCount, c.stored) << c.fileLines << " lines";
    EXPECT_EQ(SettingsLines.back(), "line" + std::to_string(c.stored));
  }
}

TEST_F(ReadingRules, ReadsAtMost128BytesAtATime) {
  fake::PutFile("Qtv.ini", std::string(1000, 'x'));
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  ASSERT_FALSE(fake::Double.readSizes.empty());
  for (uint32_t size : fake::Double.readSizes) {
    EXPECT_EQ(size, 128u);
  }
}

TEST_F(ReadingRules, ShortReadsFromThePlatformChangeNothing) {
  fake::Double.readChunkLimit = 7;
  const std::string file = "[DESKTOP]\r\r\nLISTWIDTH=430\r" + LongLine + "\x1A tail";
  fake::PutFile("Qtv.ini", file);
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  EXPECT_EQ(SettingsLines, (Lines{"[DESKTOP]", "", "LISTWIDTH=430", LongLine}));
}

TEST_F(ReadingRules, BrokenPipeCountsAsTheEndOfTheFile) {
  fake::PutFile("Qtv.ini", "a\r\nb\r\n");
  fake::FailCall(fake::Op::ReadFile, 1, ERROR_BROKEN_PIPE_CODE);
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  EXPECT_EQ(SettingsLines, (Lines{""}));
}

struct WriteCase {
  const char* name;
  std::string file;
  std::string written;
};

const WriteCase WriteCases[] = {
    {"CR LF lines come back byte for byte", "[DESKTOP]\r\nLISTWIDTH=430\r\n", "[DESKTOP]\r\nLISTWIDTH=430\r\n"},
    {"last line gets CR LF", "a\r\nb", "a\r\nb\r\n"},
    {"CR alone becomes CR LF", "a\rb\r", "a\r\nb\r\n"},
    {"LF inside a line stays", "a\nb\r\n", "a\nb\r\n"},
    {"trailing empty line keeps both line ends", "a\r\n\r\n", "a\r\n\r\n"},
    {"empty file becomes one line end", "", "\r\n"},
    {"Ctrl-Z as last byte is dropped", "a\r\n\x1A", "a\r\n"},
    {"long line written whole", LongLine + "\r\n", LongLine + "\r\n"},
};

TEST_F(ReadingRules, WritingTheStoreBack) {
  for (const WriteCase& c : WriteCases) {
    SetUp();
    fake::PutFile("Qtv.ini", c.file);
    ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u) << c.name;
    ASSERT_EQ(WriteThroughStore("Qtv.ini"), 0u) << c.name;
    EXPECT_EQ(Visible(fake::FileBytes("Qtv.ini")), Visible(c.written)) << c.name;
  }
}

TEST_F(ReadingRules, WritesReachThePlatformIn128ByteBlocks) {
  fake::PutFile("Qtv.ini", LongLine + "\r\n");  // 302 bytes
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  ASSERT_EQ(WriteThroughStore("Qtv.ini"), 0u);
  EXPECT_EQ(fake::Double.writeSizes, (std::vector<uint32_t>{128, 128, 46}));
}

TEST_F(ReadingRules, ACharacterDeviceGetsEveryLineAtItsEnd) {
  fake::PutFile("Qtv.ini", "a\r\nbb\r\n");
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  fake::Double.files["Qtv.ini"].type = FILE_TYPE_CHAR_VALUE;
  ASSERT_EQ(WriteThroughStore("Qtv.ini"), 0u);
  EXPECT_EQ(fake::Double.writeSizes, (std::vector<uint32_t>{3, 4}));
}

// What the store cannot hold is read on, to the physical end, so that writing back loses nothing.
struct TrailingCase {
  const char* name;
  std::string file;
  std::string trailing;
  std::string written;
};

TEST_F(ReadingRules, BytesBeyondTheStoreAreCarriedOver) {
  const std::string thousand = NumberedLines(1000);
  const TrailingCase cases[] = {
      {"nothing beyond", "a\r\nb", "", "a\r\nb\r\n"},
      {"lone Ctrl-Z at the end is dropped", "a\r\n\x1A", "", "a\r\n"},
      {"Ctrl-Z in the middle", "a\r\nb\x1A" "c\r\n", "\x1A" "c\r\n", "a\r\nb\r\n\x1A" "c\r\n"},
      {"two Ctrl-Z at the end", "a\r\n\x1A\x1A", "\x1A\x1A", "a\r\n\x1A\x1A"},
      {"line 1001 on", thousand + "x\ry\x1A", "x\ry\x1A", thousand + "x\ry\x1A"},
      {"line 1001 after a CR alone", NumberedLines(999) + "z\rq", "q", NumberedLines(999) + "z\r\nq"},
      {"exactly 1000 lines", thousand, "", thousand},
      {"exactly 1000 lines and a Ctrl-Z", thousand + "\x1A", "", thousand},
  };
  for (const TrailingCase& c : cases) {
    SetUp();
    fake::PutFile("Qtv.ini", c.file);
    uint32_t exitCode = fake::RunProgram([] { ReadSettingsFile("Qtv.ini", true); });
    ASSERT_EQ(exitCode, 0u) << c.name;
    EXPECT_EQ(Visible(TrailingBytes), Visible(c.trailing)) << c.name;
    ASSERT_EQ(WriteThroughStore("Qtv.ini"), 0u);
    EXPECT_EQ(Visible(fake::FileBytes("Qtv.ini")), Visible(c.written)) << c.name;
  }
}

}  // namespace
