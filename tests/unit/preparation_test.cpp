// Getting the settings file ready: presence, attributes, the backup and its question.
#include "preparation.h"

#include <string>
#include <vector>

#include "common_helpers.h"
#include "test_support.h"

namespace {

// The repair tool's caption stands on every box here, as the run sets it first thing.
template <typename Base>
class WithRepairCaption : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    caption_ = texts::ProgramBytes(texts::RepairCaption);
    ProgramCaption = caption_.c_str();
  }

  std::string caption_;
};

std::string RefusalBox(const char* text) { return ErrorBoxLine(texts::RepairCaption, text); }

struct AttributeCase {
  const char* name;
  uint32_t before;
  uint32_t after;
  bool changed;
};

class Attributes : public WithRepairCaption<DoubleTableTest<AttributeCase>> {};

TEST_P(Attributes, ClearsTheAttributesThatBlockRewriting) {
  const AttributeCase& c = GetParam();
  fake::PutFile("Qtv.ini", "x", c.before);
  EXPECT_TRUE(PrepareSettingsFile());
  EXPECT_EQ(fake::Double.files["Qtv.ini"].attributes, c.after);
  EXPECT_EQ(fake::Double.calls[fake::Op::SetFileAttributes], c.changed ? 1 : 0);
  EXPECT_TRUE(fake::Double.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Attributes,
    testing::Values(
        AttributeCase{"Archive", FILE_ATTRIBUTE_ARCHIVE_BIT, FILE_ATTRIBUTE_ARCHIVE_BIT, false},
        AttributeCase{"Normal", FILE_ATTRIBUTE_NORMAL_VALUE, FILE_ATTRIBUTE_NORMAL_VALUE, false},
        AttributeCase{"NotIndexed", 0x2000 | FILE_ATTRIBUTE_ARCHIVE_BIT,
                      0x2000 | FILE_ATTRIBUTE_ARCHIVE_BIT, false},
        AttributeCase{"ReadOnly", FILE_ATTRIBUTE_READONLY_BIT, FILE_ATTRIBUTE_NORMAL_VALUE, true},
        AttributeCase{"HiddenArchive", FILE_ATTRIBUTE_HIDDEN_BIT | FILE_ATTRIBUTE_ARCHIVE_BIT,
                      FILE_ATTRIBUTE_NORMAL_VALUE, true},
        AttributeCase{"System", FILE_ATTRIBUTE_SYSTEM_BIT, FILE_ATTRIBUTE_NORMAL_VALUE, true},
        AttributeCase{"ReadOnlyHiddenSystemArchive", 0x27, FILE_ATTRIBUTE_NORMAL_VALUE, true}),
    RowName<AttributeCase>);

class Preparation : public WithRepairCaption<DoubleTest> {};

TEST_F(Preparation, RefusesAMissingFile) {
  EXPECT_FALSE(PrepareSettingsFile());
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{RefusalBox(texts::RepairNotFound)});
}

TEST_F(Preparation, RefusesADirectoryOfThatName) {
  fake::Double.files["Qtv.ini"].isDirectory = true;
  EXPECT_FALSE(PrepareSettingsFile());
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{RefusalBox(texts::RepairNotFound)});
}

TEST_F(Preparation, RefusesAFailedChange) {
  fake::PutFile("Qtv.ini", "x", FILE_ATTRIBUTE_READONLY_BIT);
  fake::FailCall(fake::Op::SetFileAttributes, 1, ERROR_ACCESS_DENIED_CODE);
  EXPECT_FALSE(PrepareSettingsFile());
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{RefusalBox(texts::AttributeRefused)});
  EXPECT_EQ(fake::Double.files["Qtv.ini"].attributes, FILE_ATTRIBUTE_READONLY_BIT);
}

// A failed query reports every bit set: the change is tried, and its success lets the run on.
TEST_F(Preparation, AFailedQueryTriesTheChange) {
  fake::PutFile("Qtv.ini", "x");
  fake::FailCall(fake::Op::GetFileAttributes, 1, ERROR_ACCESS_DENIED_CODE);
  EXPECT_TRUE(PrepareSettingsFile());
  EXPECT_EQ(fake::Double.files["Qtv.ini"].attributes, FILE_ATTRIBUTE_NORMAL_VALUE);
}

std::string Question(const char* verb) {
  return BoxLine(texts::RepairCaption, texts::BackupQuestion(verb), 0x10134);
}

struct BackupCase {
  const char* name;
  bool backupBefore;
  bool backupFails;
  int answer;
  bool goesOn;
  const char* verb;                       // of the question; nullptr: none asked
  std::string backupAfter;                // empty: none
  fake::Op failing = fake::Op::CopyFile;  // the step that fails: the copy, or its flush
  uint32_t heldAccess = 0;                // another program's handle on the old backup
  uint32_t heldShare = 0;
};

class Backup : public WithRepairCaption<DoubleTableTest<BackupCase>> {};

TEST_P(Backup, CopiesOrAsksWhetherToGoOn) {
  const BackupCase& c = GetParam();
  fake::PutFile("Qtv.ini", "new");
  if (c.backupBefore) {
    fake::PutFile("Qtv.ini_widthBack", "old");
    fake::Double.files["Qtv.ini_widthBack"].heldAccess = c.heldAccess;
    fake::Double.files["Qtv.ini_widthBack"].heldShare = c.heldShare;
  }
  if (c.backupFails) {
    fake::FailCall(c.failing, 1, ERROR_ACCESS_DENIED_CODE);
  }
  if (c.answer != 0) {
    fake::Double.answers.push_back(c.answer);
  }
  EXPECT_EQ(MakeBackup(), c.goesOn);
  std::vector<std::string> boxes;
  if (c.verb != nullptr) {
    boxes.push_back(Question(c.verb));
  }
  EXPECT_EQ(ShownBoxes(), boxes);
  EXPECT_EQ(fake::FileExists("Qtv.ini_widthBack"), !c.backupAfter.empty());
  if (!c.backupAfter.empty()) {
    EXPECT_EQ(fake::FileBytes("Qtv.ini_widthBack"), c.backupAfter);
  }
  EXPECT_EQ(fake::FileBytes("Qtv.ini"), "new");
}

using texts::CreateVerb;
using texts::UpdateVerb;

INSTANTIATE_TEST_SUITE_P(
    Rows, Backup,
    testing::Values(BackupCase{"FirstBackup", false, false, 0, true, nullptr, "new"},
                    BackupCase{"BackupReplaced", true, false, 0, true, nullptr, "new"},
                    BackupCase{"CreateFailsYes", false, true, IDYES_RESULT, true, CreateVerb, ""},
                    BackupCase{"CreateFailsNo", false, true, IDNO_RESULT, false, CreateVerb, ""},
                    BackupCase{"UpdateFailsYesKeepsTheOldBackup", true, true, IDYES_RESULT, true,
                               UpdateVerb, "old"},
                    BackupCase{"UpdateFailsNo", true, true, IDNO_RESULT, false, UpdateVerb, "old"},
                    BackupCase{"AnyOtherAnswerIsNo", true, true, IDOK_RESULT, false, UpdateVerb,
                               "old"},
                    // A copy that cannot be flushed to disk is no backup yet.
                    BackupCase{"CopyNotReopenedNo", false, true, IDNO_RESULT, false, CreateVerb,
                               "new", fake::Op::CreateFile},
                    BackupCase{"CopyNotFlushedYes", true, true, IDYES_RESULT, true, UpdateVerb,
                               "new", fake::Op::FlushFileBuffers},
                    BackupCase{"CopyNotClosedAfterItsFlushNo", true, true, IDNO_RESULT, false,
                               UpdateVerb, "new", fake::Op::CloseHandle},
                    // Another program's handle: one that lets others write stops neither the
                    // copy nor its flush; one that shares nothing stops the copy.
                    BackupCase{"HeldForWritingSharingBoth", true, false, 0, true, nullptr, "new",
                               fake::Op::CopyFile, GENERIC_WRITE_ACCESS,
                               FILE_SHARE_READ_MODE | FILE_SHARE_WRITE_MODE},
                    BackupCase{"HeldSharingNothingNo", true, false, IDNO_RESULT, false, UpdateVerb,
                               "old", fake::Op::CopyFile, GENERIC_READ_ACCESS, 0}),
    RowName<BackupCase>);

TEST_F(Preparation, ReadOnlyBackupCannotBeReplaced) {
  fake::PutFile("Qtv.ini", "new");
  fake::PutFile("Qtv.ini_widthBack", "old", FILE_ATTRIBUTE_READONLY_BIT);
  fake::Double.answers.push_back(IDNO_RESULT);
  EXPECT_FALSE(MakeBackup());
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{Question(UpdateVerb)});
  EXPECT_EQ(fake::FileBytes("Qtv.ini_widthBack"), "old");
}

TEST_F(Preparation, QuestionBytes) {
  fake::PutFile("Qtv.ini", "new");
  fake::FailCall(fake::Op::CopyFile, 1, ERROR_ACCESS_DENIED_CODE);
  MakeBackup();
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  const std::string& text = fake::Double.boxes[0].text;
  // を作成 with no blank between, and the full-width question mark 81 48 at the very end.
  EXPECT_NE(text.find("widthBack \x82\xF0\x8D\xEC\x90\xAC\x82\xC5"), std::string::npos)
      << Escaped(text);
  EXPECT_EQ(Escaped(text.substr(text.size() - 4)), Escaped("\x82\xA9\x81\x48"));
}

}  // namespace
