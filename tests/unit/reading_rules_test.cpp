// How the settings file is cut into lines, and what writing the store back gives.
#include <string>
#include <vector>

#include "settings_text.h"
#include "test_support.h"

namespace {

using Lines = std::vector<std::string>;
using support::FillerLine;
using support::FillerLines;

const std::string LongLine(300, 'w');  // runs across several 128-byte refills

struct ReadCase {
  const char* name;
  std::string file;
  Lines lines;
};

class ReadingRules : public DoubleTableTest<ReadCase> {};

TEST_P(ReadingRules, CutsTheFileIntoLines) {
  const ReadCase& c = GetParam();
  fake::PutFile("Qtv.ini", c.file);
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  EXPECT_EQ(SettingsLines, c.lines) << "read from " << Escaped(c.file);
  EXPECT_EQ(LineCount, static_cast<int32_t>(c.lines.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadingRules,
    testing::Values(
        ReadCase{"EmptyFileIsOneEmptyLine", "", {""}},
        ReadCase{"HeaderAndEntryWithCrLf",
                 "[DESKTOP]\r\nLISTWIDTH=430\r\n",
                 {"[DESKTOP]", "LISTWIDTH=430"}},
        ReadCase{"LastLineWithoutLineEnd", "a\r\nb", {"a", "b"}},
        ReadCase{"CrAloneEndsALine", "a\rb\r", {"a", "b"}},
        ReadCase{"LfAloneDoesNotEndALine", "a\nb\nc\n", {"a\nb\nc\n"}},
        ReadCase{"CrCrLfGivesALineAndAnEmptyLine", "a\r\r\nb", {"a", "", "b"}},
        ReadCase{"LfCrStaysInTheLine", "a\n\rb", {"a\n", "b"}},
        ReadCase{"CrLfLfLeavesTheSecondLfToTheNextLine", "a\r\n\nb", {"a", "\nb"}},
        ReadCase{"CrLfCrEndsTwoLines", "a\r\n\rb", {"a", "", "b"}},
        ReadCase{"CrCrCrLfEndsThreeLines", "a\r\r\r\nb", {"a", "", "", "b"}},
        ReadCase{"LfBeforeCrLfStaysInTheLine", "a\n\r\nb", {"a\n", "b"}},
        ReadCase{"TwoLineEndsAtTheEndGiveATrailingEmptyLine", "a\r\n\r\n", {"a", ""}},
        ReadCase{"OnlyALineEnd", "\r\n", {""}},
        ReadCase{"NulBytesAreLineText", std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}},
        ReadCase{"CtrlZAsLastByte", "a\r\nb\r\n\x1A", {"a", "b"}},
        ReadCase{"CtrlZInsideALineEndsTheText",
                 "a\r\nb\x1A"
                 "c\r\n[DESKTOP]\r\n",
                 {"a", "b"}},
        ReadCase{"CtrlZFirst",
                 "\x1A"
                 "a\r\n",
                 {""}},
        ReadCase{"CtrlZRightAfterCr", "a\r\x1A\nb", {"a"}},
        ReadCase{"LineAcrossRefills", LongLine + "\r\nx", {LongLine, "x"}},
        ReadCase{"CrLfSplitAcrossARefill",
                 std::string(127, 'a') + "\r\nb",
                 {std::string(127, 'a'), "b"}},
        ReadCase{
            "LineOfExactly128Bytes", std::string(128, 'a') + "\r\nb", {std::string(128, 'a'), "b"}},
        ReadCase{"CodePage932BytesPassThrough",
                 "\x83\x58\x83\x8C\r\n\x8E\x5C",
                 {"\x83\x58\x83\x8C", "\x8E\x5C"}}),
    RowName<ReadCase>);

struct CapacityCase {
  const char* name;
  int fileLines;
  int32_t stored;
};

class StoreCapacity : public DoubleTableTest<CapacityCase> {};

TEST_P(StoreCapacity, HoldsAtMostAThousandLines) {
  const CapacityCase& c = GetParam();
  fake::PutFile("Qtv.ini", FillerLines(c.fileLines));
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  EXPECT_EQ(LineCount, c.stored) << c.fileLines << " lines";
  EXPECT_EQ(SettingsLines.back(), FillerLine(c.stored - 1));
}

INSTANTIATE_TEST_SUITE_P(Rows, StoreCapacity,
                         testing::Values(CapacityCase{"Lines999", 999, 999},
                                         CapacityCase{"Lines1000", 1000, 1000},
                                         CapacityCase{"Lines1001", 1001, 1000},
                                         CapacityCase{"Lines2500", 2500, 1000}),
                         RowName<CapacityCase>);

class ReadingSteps : public DoubleTest {};

TEST_F(ReadingSteps, ReadsAtMost128BytesAtATime) {
  fake::PutFile("Qtv.ini", std::string(1000, 'x'));
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  ASSERT_FALSE(fake::Double.readSizes.empty());
  for (uint32_t size : fake::Double.readSizes) {
    EXPECT_EQ(size, 128u);
  }
}

TEST_F(ReadingSteps, ShortReadsFromThePlatformChangeNothing) {
  fake::Double.readChunkLimit = 7;
  const std::string file = "[DESKTOP]\r\r\nLISTWIDTH=430\r" + LongLine + "\x1A tail";
  fake::PutFile("Qtv.ini", file);
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  EXPECT_EQ(SettingsLines, (Lines{"[DESKTOP]", "", "LISTWIDTH=430", LongLine}));
}

TEST_F(ReadingSteps, BrokenPipeCountsAsTheEndOfTheFile) {
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

class WritingBack : public DoubleTableTest<WriteCase> {};

TEST_P(WritingBack, GivesEveryLineItsCrLf) {
  const WriteCase& c = GetParam();
  fake::PutFile("Qtv.ini", c.file);
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  ASSERT_EQ(WriteThroughStore("Qtv.ini"), 0u);
  EXPECT_EQ(Escaped(fake::FileBytes("Qtv.ini")), Escaped(c.written));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, WritingBack,
    testing::Values(WriteCase{"CrLfLinesComeBackByteForByte", "[DESKTOP]\r\nLISTWIDTH=430\r\n",
                              "[DESKTOP]\r\nLISTWIDTH=430\r\n"},
                    WriteCase{"LastLineGetsCrLf", "a\r\nb", "a\r\nb\r\n"},
                    WriteCase{"CrAloneBecomesCrLf", "a\rb\r", "a\r\nb\r\n"},
                    WriteCase{"LfInsideALineStays", "a\nb\r\n", "a\nb\r\n"},
                    WriteCase{"TrailingEmptyLineKeepsBothLineEnds", "a\r\n\r\n", "a\r\n\r\n"},
                    WriteCase{"EmptyFileBecomesOneLineEnd", "", "\r\n"},
                    WriteCase{"CtrlZAsLastByteIsDropped", "a\r\n\x1A", "a\r\n"},
                    WriteCase{"LongLineWrittenWhole", LongLine + "\r\n", LongLine + "\r\n"}),
    RowName<WriteCase>);

class WritingSteps : public DoubleTest {};

TEST_F(WritingSteps, WritesReachThePlatformIn128ByteBlocks) {
  fake::PutFile("Qtv.ini", LongLine + "\r\n");  // 302 bytes
  ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  ASSERT_EQ(WriteThroughStore("Qtv.ini"), 0u);
  EXPECT_EQ(fake::Double.writeSizes, (std::vector<uint32_t>{128, 128, 46}));
}

TEST_F(WritingSteps, ACharacterDeviceGetsEveryLineAtItsEnd) {
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

class CarriedOver : public DoubleTableTest<TrailingCase> {};

TEST_P(CarriedOver, BytesBeyondTheStoreAreWrittenBackAfterTheLines) {
  const TrailingCase& c = GetParam();
  fake::PutFile("Qtv.ini", c.file);
  uint32_t exitCode = fake::RunProgram([] { ReadSettingsFile("Qtv.ini", true); });
  ASSERT_EQ(exitCode, 0u);
  EXPECT_EQ(Escaped(TrailingBytes), Escaped(c.trailing));
  ASSERT_EQ(WriteThroughStore("Qtv.ini"), 0u);
  EXPECT_EQ(Escaped(fake::FileBytes("Qtv.ini")), Escaped(c.written));
}

const std::string Thousand = FillerLines(1000);

INSTANTIATE_TEST_SUITE_P(
    Rows, CarriedOver,
    testing::Values(TrailingCase{"NothingBeyond", "a\r\nb", "", "a\r\nb\r\n"},
                    TrailingCase{"LoneCtrlZAtTheEndIsDropped", "a\r\n\x1A", "", "a\r\n"},
                    TrailingCase{"CtrlZInTheMiddle",
                                 "a\r\nb\x1A"
                                 "c\r\n",
                                 "\x1A"
                                 "c\r\n",
                                 "a\r\nb\r\n\x1A"
                                 "c\r\n"},
                    TrailingCase{"TwoCtrlZAtTheEnd", "a\r\n\x1A\x1A", "\x1A\x1A", "a\r\n\x1A\x1A"},
                    TrailingCase{"Line1001On", Thousand + "x\ry\x1A", "x\ry\x1A",
                                 Thousand + "x\ry\x1A"},
                    TrailingCase{"Line1001AfterACrAlone", FillerLines(999) + "z\rq", "q",
                                 FillerLines(999) + "z\r\nq"},
                    TrailingCase{"Exactly1000Lines", Thousand, "", Thousand},
                    TrailingCase{"Exactly1000LinesAndACtrlZ", Thousand + "\x1A", "", Thousand}),
    RowName<TrailingCase>);

// The settings file is opened, for reading and for writing alike, so that others may read it
// meanwhile and nobody may write it: another program's reading handle that lets others read and
// write lets both opens through, its writing handle stops both with a sharing violation.
struct SharingCase {
  const char* name;
  bool writing;         // the open for writing, else for reading
  uint32_t heldAccess;  // the other program's handle, which lets others read and write
  uint32_t exitCode;
};

class SettingsSharing : public DoubleTableTest<SharingCase> {};

TEST_P(SettingsSharing, OthersMayReadButNotWrite) {
  const SharingCase& c = GetParam();
  fake::PutFile("Qtv.ini", "[DESKTOP]\r\nLISTWIDTH=430\r\n");
  if (c.writing) {
    ASSERT_EQ(LoadThroughStore("Qtv.ini"), 0u);
  }
  fake::Double.files["Qtv.ini"].heldAccess = c.heldAccess;
  fake::Double.files["Qtv.ini"].heldShare = FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE;
  uint32_t exitCode = c.writing ? WriteThroughStore("Qtv.ini") : LoadThroughStore("Qtv.ini");
  EXPECT_EQ(exitCode, c.exitCode);
  EXPECT_EQ(fake::Double.calls[fake::Op::CreateFile], c.writing ? 2 : 1);
  EXPECT_EQ(fake::FileBytes("Qtv.ini"), "[DESKTOP]\r\nLISTWIDTH=430\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsSharing,
    testing::Values(SharingCase{"ReadingBesideAReader", false, GENERIC_READ_ACCESS, 0},
                    SharingCase{"ReadingBesideAWriter", false, GENERIC_WRITE_ACCESS,
                                ERROR_SHARING_VIOLATION_CODE},
                    SharingCase{"WritingBesideAReader", true, GENERIC_READ_ACCESS, 0},
                    SharingCase{"WritingBesideAWriter", true, GENERIC_WRITE_ACCESS,
                                ERROR_SHARING_VIOLATION_CODE}),
    RowName<SharingCase>);

}  // namespace
