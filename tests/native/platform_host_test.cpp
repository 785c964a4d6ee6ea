// The POSIX platform layer's stand-in for the host's main window: a process of the same user
// whose program is Qtv.exe.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "native_support.h"
#include "platform.h"
#include "platform_test_entry.h"
#include "settings_names.h"

namespace {

const char* const HostClass = HostWindowClass;
constexpr uid_t NobodyUser = 65534;

// Every test here needs a machine where no host runs but the ones it starts, and holds the lock
// that keeps other test runs from starting one.
class HostWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(OsWindowExists(HostClass))
        << "a process named Qtv.exe already runs on this machine; these tests need none";
  }

  native::HostLock lock_;
};

struct ProgramNameCase {
  std::string firstWord;
  bool isHost;
};

const ProgramNameCase ProgramNameCases[] = {
    {"Qtv.exe", true},
    {"QTV.EXE", true},
    {"qtv.Exe", true},
    {"/opt/ostrel/Qtv.exe", true},
    {"./Qtv.exe", true},
    {"C:\\Program Files\\Ostrel\\Qtv.exe", true},
    {"Z:\\home\\user/ostrel\\Qtv.exe", true},
    {"Qtv.exe.bak", false},
    {"MyQtv.exe", false},
    {"Qtv", false},
    {"Qtv.ex", false},
    {"Qtv.exe/", false},
    {"Qtv.exe\\sleep", false},
    {"Qtv.exe with blanks", false},
    {"sleep", false},
};

class HostProgramNameTest : public HostWindowTest,
                            public testing::WithParamInterface<ProgramNameCase> {};

TEST_P(HostProgramNameTest, HostIsAProcessWhoseProgramIsQtvExe) {
  const ProgramNameCase& row = GetParam();
  native::StandInProcess host(row.firstWord);
  EXPECT_EQ(row.isHost, OsWindowExists(HostClass)) << row.firstWord;
}

INSTANTIATE_TEST_SUITE_P(Rows, HostProgramNameTest, testing::ValuesIn(ProgramNameCases),
                         [](const testing::TestParamInfo<ProgramNameCase>& row) {
                           return support::NameOf(row.param.firstWord);
                         });

TEST_F(HostWindowTest, OnlyTheHostClassIsLookedFor) {
  native::StandInProcess host("Qtv.exe");
  ASSERT_TRUE(OsWindowExists(HostClass));
  EXPECT_FALSE(OsWindowExists("Other"));
  EXPECT_FALSE(OsWindowExists(""));
  EXPECT_FALSE(OsWindowExists("Qtv.exe"));
}

TEST_F(HostWindowTest, AHostStartedWithAFileArgumentCounts) {
  // Only the first word names the program: a later one may hold a path of its own.
  native::ScopedVariable standIn(StandInVariable, "1");
  native::StandInProcess host("Qtv.exe", OwnProgramPath(), static_cast<uid_t>(-1),
                              "C:\\Ostrel\\Qtv.ini");
  EXPECT_TRUE(OsWindowExists(HostClass));
}

TEST_F(HostWindowTest, AHostThatHasEndedIsGone) {
  native::StandInProcess host("Qtv.exe");
  ASSERT_TRUE(OsWindowExists(HostClass));
  host.Stop();
  EXPECT_FALSE(OsWindowExists(HostClass));
}

TEST_F(HostWindowTest, AnotherUsersHostDoesNotCount) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "starting a process as another user needs the superuser";
  }
  native::StandInProcess othersHost("Qtv.exe", native::SleepProgram, NobodyUser);
  struct stat process {};
  ASSERT_EQ(0, stat(("/proc/" + std::to_string(othersHost.Pid())).c_str(), &process));
  ASSERT_EQ(NobodyUser, process.st_uid);
  EXPECT_FALSE(OsWindowExists(HostClass));
  native::StandInProcess ownHost("Qtv.exe");
  EXPECT_TRUE(OsWindowExists(HostClass));
}

}  // namespace
