// Getting the settings file ready: presence, attributes, the backup and its question.
#include <string>
#include <vector>

#include "common_helpers.h"
#include "preparation.h"
#include "test_support.h"

namespace {

const char Caption[] = "Mirvel スレ幅修復ツール";
const char NotFound[] =
    "Qtv.ini が見つかりません。\r\nPanefix.exe を 「Qtv.exe と同じフォルダ」 にコピーしてから、再度 実行してください。";
const char AttributeFailed[] = "Qtv.ini のファイル属性を変更できませんでした。";

class Preparation : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
    ProgramCaption = Caption;
  }
};

TEST_F(Preparation, ClearsTheAttributesThatBlockRewriting) {
  const struct {
    uint32_t before;
    uint32_t after;
    bool changed;
  } cases[] = {
      {FILE_ATTRIBUTE_ARCHIVE_BIT, FILE_ATTRIBUTE_ARCHIVE_BIT, false},
      {FILE_ATTRIBUTE_NORMAL_VALUE, FILE_ATTRIBUTE_NORMAL_VALUE, false},
      {0x2000 | FILE_ATTRIBUTE_ARCHIVE_BIT, 0x2000 | FILE_ATTRIBUTE_ARCHIVE_BIT, false},
      {FILE_ATTRIBUTE_READONLY_BIT, FILE_ATTRIBUTE_NORMAL_VALUE, true},
      {FILE_ATTRIBUTE_HIDDEN_BIT | FILE_ATTRIBUTE_ARCHIVE_BIT, FILE_ATTRIBUTE_NORMAL_VALUE, true},
      {FILE_ATTRIBUTE_SYSTEM_BIT, FILE_ATTRIBUTE_NORMAL_VALUE, true},
      {0x27, FILE_ATTRIBUTE_NORMAL_VALUE, true},
  };
  for (const auto& c : cases) {
    SetUp();
    fake::PutFile("Qtv.ini", "x", c.before);
    EXPECT_TRUE(PrepareSettingsFile()) << c.before;
    EXPECT_EQ(fake::Double.files["Qtv.ini"].attributes, c.after) << c.before;
    EXPECT_EQ(fake::Double.calls[fake::Op::SetFileAttributes], c.changed ? 1 : 0) << c.before;
    EXPECT_TRUE(fake::Double.boxes.empty()) << c.before;
  }
}

TEST_F(Preparation, RefusesAMissingFileAndAFailedChange) {
  EXPECT_FALSE(PrepareSettingsFile());
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{std::string(Caption) + "|" + NotFound + "|0x10010"});

  SetUp();
  fake::Double.files["Qtv.ini"].isDirectory = true;
  EXPECT_FALSE(PrepareSettingsFile());
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{std::string(Caption) + "|" + NotFound + "|0x10010"});

  SetUp();
  fake::PutFile("Qtv.ini", "x", FILE_ATTRIBUTE_READONLY_BIT);
  fake::FailCall(fake::Op::SetFileAttributes, 1, ERROR_ACCESS_DENIED_CODE);
  EXPECT_FALSE(PrepareSettingsFile());
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{std::string(Caption) + "|" + AttributeFailed + "|0x10010"});
  EXPECT_EQ(fake::Double.files["Qtv.ini"].attributes, FILE_ATTRIBUTE_READONLY_BIT);

  // A failed query reports every bit set: the change is tried, and its success lets the run on.
  SetUp();
  fake::PutFile("Qtv.ini", "x");
  fake::FailCall(fake::Op::GetFileAttributes, 1, ERROR_ACCESS_DENIED_CODE);
  EXPECT_TRUE(PrepareSettingsFile());
  EXPECT_EQ(fake::Double.files["Qtv.ini"].attributes, FILE_ATTRIBUTE_NORMAL_VALUE);
}

std::string Question(const char* verb) {
  return std::string(Caption) + "|バックファイル Qtv.ini_widthBack を" + verb +
         "できませんでした。\r\n処理を継続しますか？|0x10134";
}

TEST_F(Preparation, BackupCopiesOrAsksWhetherToGoOn) {
  const struct {
    const char* name;
    bool backupBefore;
    bool copyFails;
    int answer;
    bool goesOn;
    std::vector<std::string> boxes;
    std::string backupAfter;  // empty: none
  } cases[] = {
      {"first backup", false, false, 0, true, {}, "new"},
      {"backup replaced", true, false, 0, true, {}, "new"},
      {"create fails, Yes", false, true, IDYES_RESULT, true, {Question("作成")}, ""},
      {"create fails, No", false, true, IDNO_RESULT, false, {Question("作成")}, ""},
      {"update fails, Yes keeps the old backup", true, true, IDYES_RESULT, true, {Question("更新")}, "old"},
      {"update fails, No", true, true, IDNO_RESULT, false, {Question("更新")}, "old"},
      {"any other answer is no", true, true, IDOK_RESULT, false, {Question("更新")}, "old"},
  };
  for (const auto& c : cases) {
    SetUp();
    fake::PutFile("Qtv.ini", "new");
    if (c.backupBefore) {
      fake::PutFile("Qtv.ini_widthBack", "old");
    }
    if (c.copyFails) {
      fake::FailCall(fake::Op::CopyFile, 1, ERROR_ACCESS_DENIED_CODE);
      fake::Double.answers.push_back(c.answer);
    }
    EXPECT_EQ(MakeBackup(), c.goesOn) << c.name;
    EXPECT_EQ(ShownBoxes(), c.boxes) << c.name;
    EXPECT_EQ(fake::FileExists("Qtv.ini_widthBack"), !c.backupAfter.empty()) << c.name;
    if (!c.backupAfter.empty()) {
      EXPECT_EQ(fake::FileBytes("Qtv.ini_widthBack"), c.backupAfter) << c.name;
    }
    EXPECT_EQ(fake::FileBytes("Qtv.ini"), "new") << c.name;
  }
}

TEST_F(Preparation, ReadOnlyBackupCannotBeReplaced) {
  fake::PutFile("Qtv.ini", "new");
  fake::PutFile("Qtv.ini_widthBack", "old", FILE_ATTRIBUTE_READONLY_BIT);
  fake::Double.answers.push_back(IDNO_RESULT);
  EXPECT_FALSE(MakeBackup());
  EXPECT_EQ(ShownBoxes(), std::vector<std::string>{Question("更新")});
  EXPECT_EQ(fake::FileBytes("Qtv.ini_widthBack"), "old");
}

TEST_F(Preparation, QuestionBytes) {
  fake::PutFile("Qtv.ini", "new");
  fake::FailCall(fake::Op::CopyFile, 1, ERROR_ACCESS_DENIED_CODE);
  MakeBackup();
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  const std::string& text = fake::Double.boxes[0].text;
  // を作成 with no blank between, and the full-width question mark 81 48 at the very end.
  EXPECT_NE(text.find("widthBack \x82\xF0\x8D\xEC\x90\xAC\x82\xC5"), std::string::npos) << Visible(text);
  EXPECT_EQ(Visible(text.substr(text.size() - 4)), Visible("\x82\xA9\x81\x48"));
}

}  // namespace
