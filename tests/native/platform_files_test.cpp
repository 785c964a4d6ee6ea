// The POSIX platform layer on real files: attributes, file access, error codes and copies. Each
// test is a run of its own in a scratch folder, which it names files in by their bare names, as
// the programs do.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "native_support.h"
#include "platform.h"
#include "posix_errors.h"
#include "posix_names.h"
#include "posix_replace.h"

namespace {

using native::ReadBytes;
using native::WriteBytes;

// A scratch folder that is the current folder, and a run of the layer's own, while it lasts: the
// path of a name in it is the bare name.
class LayerFolder : public native::ScratchFolder {
 public:
  LayerFolder() {
    posix_layer::ForgetRun();
    EXPECT_EQ(0, chdir(Path().c_str()));
  }
  ~LayerFolder() {
    posix_layer::ForgetRun();
    EXPECT_EQ(0, chdir("/"));
  }
  LayerFolder(const LayerFolder&) = delete;
  LayerFolder& operator=(const LayerFolder&) = delete;
  std::string operator/(const std::string& name) const { return name; }
};

// The unprivileged user and group a file is given to where a test needs another owner.
constexpr uid_t NobodyUser = 65534;

unsigned ModeOf(const std::string& path) {
  struct stat status {};
  EXPECT_EQ(0, stat(path.c_str(), &status)) << path;
  return status.st_mode & 07777;
}

// The entries of a folder other than . and ..
std::vector<std::string> EntriesOf(const std::string& folder) {
  std::vector<std::string> names;
  DIR* directory = opendir(folder.c_str());
  while (const dirent* entry = directory != nullptr ? readdir(directory) : nullptr) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.push_back(entry->d_name);
    }
  }
  if (directory != nullptr) {
    closedir(directory);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void MakeFile(const std::string& path, unsigned mode, const std::string& bytes = "x") {
  WriteBytes(path, bytes);
  ASSERT_EQ(0, chmod(path.c_str(), mode));
}

FileHandle OpenForReading(const std::string& path) {
  return OsCreateFile(path.c_str(), GENERIC_READ_ACCESS, FILE_SHARE_READ_MODE,
                      OPEN_EXISTING_DISPOSITION, FILE_ATTRIBUTE_NORMAL_VALUE);
}

FileHandle CreateForWriting(const std::string& path) {
  return OsCreateFile(path.c_str(), GENERIC_WRITE_ACCESS, FILE_SHARE_READ_MODE,
                      CREATE_ALWAYS_DISPOSITION, FILE_ATTRIBUTE_NORMAL_VALUE);
}

// ---- Attributes -------------------------------------------------------------------------------

struct AttributeCase {
  const char* what;
  bool directory;
  unsigned mode;
  uint32_t attributes;
};

const AttributeCase AttributeCases[] = {
    {"plain file", false, 0644, FILE_ATTRIBUTE_ARCHIVE_BIT},
    {"owner may write only", false, 0200, FILE_ATTRIBUTE_ARCHIVE_BIT},
    {"nobody may write", false, 0444, FILE_ATTRIBUTE_ARCHIVE_BIT | FILE_ATTRIBUTE_READONLY_BIT},
    {"others may write, owner not", false, 0466,
     FILE_ATTRIBUTE_ARCHIVE_BIT | FILE_ATTRIBUTE_READONLY_BIT},
    {"no permission at all", false, 0, FILE_ATTRIBUTE_ARCHIVE_BIT | FILE_ATTRIBUTE_READONLY_BIT},
    {"directory", true, 0755, FILE_ATTRIBUTE_DIRECTORY_BIT},
    {"read-only directory", true, 0555, FILE_ATTRIBUTE_DIRECTORY_BIT | FILE_ATTRIBUTE_READONLY_BIT},
};

using native::RowName;

class AttributeRows : public testing::TestWithParam<AttributeCase> {};

TEST_P(AttributeRows, DirectoryArchiveAndReadOnlyFromTheMode) {
  LayerFolder folder;
  const AttributeCase& row = GetParam();
  std::string path = folder / row.what;
  if (row.directory) {
    ASSERT_EQ(0, mkdir(path.c_str(), row.mode));
    ASSERT_EQ(0, chmod(path.c_str(), row.mode));
  } else {
    MakeFile(path, row.mode);
  }
  EXPECT_EQ(row.attributes, OsGetFileAttributes(path.c_str()));
}

INSTANTIATE_TEST_SUITE_P(Rows, AttributeRows, testing::ValuesIn(AttributeCases),
                         RowName<AttributeCase>);

TEST(AttributesTest, SpecialFilesAreNoDirectories) {
  LayerFolder folder;
  ASSERT_EQ(0, mkfifo((folder / "fifo").c_str(), 0644));
  EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE_BIT, OsGetFileAttributes((folder / "fifo").c_str()));
  ASSERT_EQ(0, symlink("/dev/null", "null"));
  EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE_BIT, OsGetFileAttributes("null"));
}

// A name inside the scratch folder, or, when empty, the empty name itself.
struct MissingNameCase {
  const char* what;
  std::string name;
  uint32_t error;
};

const MissingNameCase MissingNameCases[] = {
    {"missing", "missing", ERROR_FILE_NOT_FOUND_CODE},
    {"empty name", "", ERROR_FILE_NOT_FOUND_CODE},
    {"name too long", std::string(300, 'n'), ERROR_FILENAME_EXCED_RANGE_CODE},
};

class MissingNameRows : public testing::TestWithParam<MissingNameCase> {};

TEST_P(MissingNameRows, MissingNamesFailWithTheirErrorCode) {
  LayerFolder folder;
  WriteBytes(folder / "file", "x");
  const MissingNameCase& row = GetParam();
  std::string name = row.name.empty() ? std::string() : folder / row.name;
  EXPECT_EQ(INVALID_ATTRIBUTES_VALUE, OsGetFileAttributes(name.c_str()));
  EXPECT_EQ(row.error, OsGetLastError());
  EXPECT_FALSE(OsSetFileAttributes(name.c_str(), FILE_ATTRIBUTE_NORMAL_VALUE));
  EXPECT_EQ(row.error, OsGetLastError());
  FoundEntry entry{};
  EXPECT_FALSE(OsFindFirstEntry(name.c_str(), &entry));
  EXPECT_EQ(row.error, OsGetLastError());
}

INSTANTIATE_TEST_SUITE_P(Rows, MissingNameRows, testing::ValuesIn(MissingNameCases),
                         RowName<MissingNameCase>);

struct SetAttributeCase {
  unsigned before;
  uint32_t attributes;
  unsigned after;
};

const SetAttributeCase SetAttributeCases[] = {
    {0644, FILE_ATTRIBUTE_READONLY_BIT, 0444},
    {0666, FILE_ATTRIBUTE_READONLY_BIT | FILE_ATTRIBUTE_ARCHIVE_BIT, 0444},
    {0755, FILE_ATTRIBUTE_READONLY_BIT, 0555},
    {0600, FILE_ATTRIBUTE_READONLY_BIT, 0400},
    {0444, FILE_ATTRIBUTE_READONLY_BIT, 0444},
    {0444, FILE_ATTRIBUTE_NORMAL_VALUE, 0644},
    {0444, FILE_ATTRIBUTE_ARCHIVE_BIT, 0644},
    {0400, 0, 0600},
    {0000, FILE_ATTRIBUTE_NORMAL_VALUE, 0200},
    {0464, FILE_ATTRIBUTE_ARCHIVE_BIT, 0664},
    {0644, FILE_ATTRIBUTE_ARCHIVE_BIT, 0644},
    {0644, FILE_ATTRIBUTE_HIDDEN_BIT | FILE_ATTRIBUTE_SYSTEM_BIT, 0644},
    {0444, FILE_ATTRIBUTE_HIDDEN_BIT | FILE_ATTRIBUTE_SYSTEM_BIT | FILE_ATTRIBUTE_READONLY_BIT,
     0444},
};

class SetAttributeRows : public testing::TestWithParam<SetAttributeCase> {};

TEST_P(SetAttributeRows, SettingChangesOnlyWritePermission) {
  LayerFolder folder;
  std::string path = folder / "Qtv.ini";
  const SetAttributeCase& row = GetParam();
  MakeFile(path, row.before, "content");
  EXPECT_TRUE(OsSetFileAttributes(path.c_str(), row.attributes));
  EXPECT_EQ(row.after, ModeOf(path));
  EXPECT_EQ("content", ReadBytes(path));
}

// A row is named by the mode before, in octal, and the attributes set, in hexadecimal.
INSTANTIATE_TEST_SUITE_P(Rows, SetAttributeRows, testing::ValuesIn(SetAttributeCases),
                         [](const testing::TestParamInfo<SetAttributeCase>& row) {
                           char name[32];
                           std::snprintf(name, sizeof name, "Mode%04o_Attributes%04X",
                                         row.param.before,
                                         static_cast<unsigned>(row.param.attributes));
                           return std::string(name);
                         });

// ---- Opening, reading, writing ----------------------------------------------------------------

TEST(FileAccessTest, ReadsAnExistingFileInOneCallPerRead) {
  LayerFolder folder;
  WriteBytes(folder / "Qtv.ini", "0123456789");
  FileHandle handle = OpenForReading(folder / "Qtv.ini");
  ASSERT_NE(InvalidFileHandle, handle) << OsGetLastError();
  EXPECT_EQ(FILE_TYPE_DISK_VALUE, OsGetFileType(handle));
  char buffer[128] = {};
  uint32_t count = 99;
  EXPECT_TRUE(OsReadFile(handle, buffer, 4, &count));
  EXPECT_EQ(4u, count);
  EXPECT_TRUE(OsReadFile(handle, buffer, sizeof buffer, &count));
  EXPECT_EQ(6u, count);
  EXPECT_EQ("456789", std::string(buffer, count));
  EXPECT_TRUE(OsReadFile(handle, buffer, sizeof buffer, &count));
  EXPECT_EQ(0u, count);
  EXPECT_TRUE(OsCloseHandle(handle));
}

struct RewriteCase {
  const char* what;
  std::string before;
  std::vector<std::string> writes;
};

// The ways a file opened for writing is rewritten: replaced whole at close by a new file made
// without a name or under a temporary one; in place, for a file with a second hard link; or
// through a symbolic link, whose target is replaced.
enum class Way { Unnamed, Named, HardLinked, ThroughLink };

const RewriteCase RewriteCases[] = {
    {"shorter", std::string(1000, 'o'), {"ab"}},
    {"as long", "LISTWIDTH=100\r\n", {"LISTWIDTH=", "430\r\n"}},
    {"longer", "old", {std::string(300, 'n'), std::string(300, 'm')}},
    {"nothing written", "old", {}},
    {"empty before", "", {"new"}},
};

const Way Ways[] = {Way::Unnamed, Way::Named, Way::HardLinked, Way::ThroughLink};
const char* const WayNames[] = {"Unnamed", "Named", "HardLinked", "ThroughLink"};

class RewriteRows : public testing::TestWithParam<std::tuple<RewriteCase, Way>> {};

TEST_P(RewriteRows, RewritingShowsTheOldTextUntilCloseThenJustTheNewBytes) {
  const RewriteCase& row = std::get<0>(GetParam());
  const Way way = std::get<1>(GetParam());
  LayerFolder folder;
  std::string path = folder / "Qtv.ini";
  std::string file = way == Way::ThroughLink ? folder / "target.ini" : path;
  MakeFile(file, 0640, row.before);
  // Wine keeps a file's DOS attributes in this extended attribute.
  ASSERT_EQ(0, setxattr(file.c_str(), "user.DOSATTRIB", "0x20", 4, 0));
  if (way == Way::ThroughLink) {
    ASSERT_EQ(0, symlink("target.ini", path.c_str()));
  }
  if (way == Way::HardLinked) {
    ASSERT_EQ(0, link(path.c_str(), (folder / "second").c_str()));
  }
  const std::vector<std::string> entries = EntriesOf(folder.Path());
  struct stat before {};
  ASSERT_EQ(0, stat(file.c_str(), &before));
  posix_layer::UseUnnamedFiles = way != Way::Named;
  FileHandle handle = CreateForWriting(path);
  ASSERT_NE(InvalidFileHandle, handle) << OsGetLastError();
  std::string expected;
  for (const std::string& piece : row.writes) {
    uint32_t written = 0;
    EXPECT_TRUE(OsWriteFile(handle, piece.data(), static_cast<uint32_t>(piece.size()), &written));
    EXPECT_EQ(piece.size(), written);
    expected += piece;
    // Even in place, the old bytes stay until the whole new text goes in at close.
    EXPECT_EQ(row.before, ReadBytes(path));
  }
  EXPECT_EQ(entries, EntriesOf(folder.Path())) << "a new file has a name before it is complete";
  EXPECT_TRUE(OsCloseHandle(handle)) << OsGetLastError();
  posix_layer::UseUnnamedFiles = true;
  EXPECT_EQ(expected, ReadBytes(path));
  EXPECT_EQ(entries, EntriesOf(folder.Path()));
  struct stat after {};
  ASSERT_EQ(0, stat(file.c_str(), &after));
  EXPECT_EQ(way == Way::HardLinked, before.st_ino == after.st_ino);
  EXPECT_EQ(0640u, after.st_mode & 07777);
  EXPECT_EQ(before.st_uid, after.st_uid);
  EXPECT_EQ(before.st_gid, after.st_gid);
  char attribute[16] = {};
  EXPECT_EQ(4, getxattr(file.c_str(), "user.DOSATTRIB", attribute, sizeof attribute));
  EXPECT_STREQ("0x20", attribute);
  if (way == Way::HardLinked) {
    EXPECT_EQ(expected, ReadBytes(folder / "second"));
  }
  if (way == Way::ThroughLink) {
    struct stat link {};
    ASSERT_EQ(0, lstat(path.c_str(), &link));
    EXPECT_TRUE(S_ISLNK(link.st_mode)) << "the link became a file";
  }
}

// A row is named by its case and its way: ShorterUnnamed.
INSTANTIATE_TEST_SUITE_P(Rows, RewriteRows,
                         testing::Combine(testing::ValuesIn(RewriteCases), testing::ValuesIn(Ways)),
                         [](const testing::TestParamInfo<std::tuple<RewriteCase, Way>>& row) {
                           return support::TitleName(std::get<0>(row.param).what) +
                                  WayNames[static_cast<int>(std::get<1>(row.param))];
                         });

struct StopCase {
  const char* what;
  void (*stop)();
  int signal;    // the signal that ends the run, or 0
  int exitCode;  // else its exit code
};

const StopCase StopCases[] = {
    {"SIGINT", [] { raise(SIGINT); }, SIGINT, -1},
    {"SIGTERM", [] { raise(SIGTERM); }, SIGTERM, -1},
    {"SIGHUP", [] { raise(SIGHUP); }, SIGHUP, -1},
    {"SIGUSR1", [] { raise(SIGUSR1); }, SIGUSR1, -1},
    {"SIGALRM", [] { raise(SIGALRM); }, SIGALRM, -1},
    {"runtime error", [] { OsExitProcess(112); }, 0, 112},
    // The moment of the stop is the one where the new file is complete under its temporary
    // name: it is still the runner's alone (0600), and it is removed as the run ends.
    {"new file private until complete",
     [] {
       std::vector<std::string> entries = EntriesOf(".");
       bool private600 =
           entries.size() == 2 && ModeOf(entries[0] == "Qtv.ini" ? entries[1] : entries[0]) == 0600;
       OsExitProcess(private600 ? 42 : 43);
     },
     0, 42},
};

class StopRows : public testing::TestWithParam<StopCase> {};

// Installs a system-call filter in this process, for good. Returns false when the system refuses
// it.
template <size_t Count>
bool InstallFilter(sock_filter (&filter)[Count]);

// The stop of the row under way, for the handler of the signal that stands in for the moment.
void (*StopNow)() = nullptr;

// Makes the first fsync of this process stop the run instead, at the moment the new file of a
// rewrite is complete under its temporary name. Returns false when the system refuses.
bool StopAtTheFirstFlush(void (*stop)()) {
  StopNow = stop;
  struct sigaction action {};
  action.sa_handler = [](int) { StopNow(); };
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_fsync, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  return sigaction(SIGSYS, &action, nullptr) == 0 && InstallFilter(filter);
}

TEST_P(StopRows, RewriteUnderATemporaryNameLeavesNothingWhenTheRunFailsOrIsStopped) {
  const StopCase& row = GetParam();
  LayerFolder folder;
  std::string path = folder / "Qtv.ini";
  WriteBytes(path, "old");
  native::ChildResult result = native::RunInChild([&] {
    posix_layer::UseUnnamedFiles = false;
    // The signals' handlers are the ones the layer's program entry installed.
    FileHandle handle = CreateForWriting(path);
    uint32_t written = 0;
    if (handle == InvalidFileHandle || !OsWriteFile(handle, "new", 3, &written) ||
        !StopAtTheFirstFlush(row.stop)) {
      return 100;
    }
    OsCloseHandle(handle);
    return 101;
  });
  EXPECT_EQ(row.signal, result.signal);
  EXPECT_EQ(row.exitCode, result.exitCode);
  EXPECT_EQ(std::vector<std::string>{"Qtv.ini"}, EntriesOf(folder.Path()));
  EXPECT_EQ("old", ReadBytes(path));
}

INSTANTIATE_TEST_SUITE_P(Rows, StopRows, testing::ValuesIn(StopCases), RowName<StopCase>);

// Installs a system-call filter in this process, for good. Returns false when the system refuses
// it.
template <size_t Count>
bool InstallFilter(sock_filter (&filter)[Count]) {
  sock_fprog program{static_cast<unsigned short>(Count), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Makes every open with O_TMPFILE fail with EOPNOTSUPP from now on in this process, as on a file
// system that has no unnamed files. Returns false when the system refuses the filter.
bool RefuseUnnamedFiles() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_openat, 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[2])),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_TMPFILE & ~O_DIRECTORY, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EOPNOTSUPP & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  return InstallFilter(filter);
}

TEST(FileAccessTest, RewritingOnAFileSystemWithoutUnnamedFilesTakesATemporaryName) {
  LayerFolder folder;
  std::string path = folder / "Qtv.ini";
  WriteBytes(path, "old");
  struct stat before {};
  ASSERT_EQ(0, stat(path.c_str(), &before));
  native::ChildResult result = native::RunInChild([&] {
    if (!RefuseUnnamedFiles()) {
      return 100;
    }
    FileHandle handle = CreateForWriting(path);
    uint32_t written = 0;
    if (handle == InvalidFileHandle || !OsWriteFile(handle, "new", 3, &written)) {
      return static_cast<int>(OsGetLastError());
    }
    return OsCloseHandle(handle) ? 0 : static_cast<int>(OsGetLastError());
  });
  EXPECT_EQ(0, result.exitCode) << "100: no filter";
  EXPECT_EQ("new", ReadBytes(path));
  EXPECT_EQ(std::vector<std::string>{"Qtv.ini"}, EntriesOf(folder.Path()));
  struct stat after {};
  ASSERT_EQ(0, stat(path.c_str(), &after));
  EXPECT_NE(before.st_ino, after.st_ino) << "written in place, not replaced by a named new file";
}

// Makes every call of the system call number call fail with error (defined below).
bool FailCalls(int call, int error, uint32_t spared = UINT32_MAX);

TEST(FileAccessTest, ARewriteWhoseRenameFailsLeavesNoNewFileBehind) {
  LayerFolder folder;
  WriteBytes("Qtv.ini", "old");
  native::ChildResult result = native::RunInChild([&] {
    posix_layer::UseUnnamedFiles = false;
    FileHandle handle = CreateForWriting("Qtv.ini");
    uint32_t written = 0;
    if (handle == InvalidFileHandle || !OsWriteFile(handle, "new", 3, &written) ||
        !FailCalls(__NR_renameat, EIO)) {
      return 100;
    }
    // Counted before the run ends, whose clean-up would hide a file the close left.
    return OsCloseHandle(handle) ? 101 : static_cast<int>(EntriesOf(".").size());
  });
  EXPECT_EQ(1, result.exitCode) << "100: no filter; 101: the close succeeded";
  EXPECT_EQ("old", ReadBytes("Qtv.ini"));
}

TEST(FileAccessTest, RewritingAFileWithALongNameTakesAShorterTemporaryName) {
  LayerFolder folder;
  std::string path = folder / std::string(250, 'n');
  WriteBytes(path, "old");
  posix_layer::UseUnnamedFiles = false;
  FileHandle handle = CreateForWriting(path);
  posix_layer::UseUnnamedFiles = true;
  ASSERT_NE(InvalidFileHandle, handle) << OsGetLastError();
  uint32_t written = 0;
  EXPECT_TRUE(OsWriteFile(handle, "new", 3, &written));
  EXPECT_TRUE(OsCloseHandle(handle)) << OsGetLastError();
  EXPECT_EQ("new", ReadBytes(path));
  EXPECT_EQ(std::vector<std::string>{std::string(250, 'n')}, EntriesOf(folder.Path()));
}

TEST(FileAccessTest, RewritingKeepsAnOwnerAndGroupOfAnotherUser) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "giving a file to another user needs the superuser";
  }
  LayerFolder folder;
  std::string path = folder / "Qtv.ini";
  MakeFile(path, 0604, "old");
  ASSERT_EQ(0, chown(path.c_str(), NobodyUser, NobodyUser));
  FileHandle handle = CreateForWriting(path);
  ASSERT_NE(InvalidFileHandle, handle) << OsGetLastError();
  uint32_t written = 0;
  EXPECT_TRUE(OsWriteFile(handle, "new", 3, &written));
  EXPECT_TRUE(OsCloseHandle(handle)) << OsGetLastError();
  struct stat after {};
  ASSERT_EQ(0, stat(path.c_str(), &after));
  EXPECT_EQ("new", ReadBytes(path));
  EXPECT_EQ(NobodyUser, after.st_uid);
  EXPECT_EQ(NobodyUser, after.st_gid);
  EXPECT_EQ(0604u, after.st_mode & 07777);
}

class ReadOnlyModeRows : public testing::TestWithParam<unsigned> {};

TEST_P(ReadOnlyModeRows, CreatingRefusesAReadOnlyFileAndLeavesItWhole) {
  LayerFolder folder;
  std::string path = folder / "Qtv.ini";
  MakeFile(path, GetParam(), "keep me");
  EXPECT_EQ(InvalidFileHandle, CreateForWriting(path));
  EXPECT_EQ(ERROR_ACCESS_DENIED_CODE, OsGetLastError());
  EXPECT_EQ("keep me", ReadBytes(path));
  ASSERT_EQ(0, chmod(path.c_str(), 0644));
}

// A row is named by its mode, in octal: Mode0444.
INSTANTIATE_TEST_SUITE_P(Rows, ReadOnlyModeRows, testing::Values(0444u, 0466u, 0000u),
                         [](const testing::TestParamInfo<unsigned>& row) {
                           char name[16];
                           std::snprintf(name, sizeof name, "Mode%04o", row.param);
                           return std::string(name);
                         });

TEST(FileAccessTest, DirectoriesAreRefusedBothWays) {
  LayerFolder folder;
  ASSERT_EQ(0, mkdir((folder / "Qtv.ini").c_str(), 0755));
  EXPECT_EQ(InvalidFileHandle, OpenForReading(folder / "Qtv.ini"));
  EXPECT_EQ(ERROR_ACCESS_DENIED_CODE, OsGetLastError());
  EXPECT_EQ(InvalidFileHandle, CreateForWriting(folder / "Qtv.ini"));
  EXPECT_EQ(ERROR_ACCESS_DENIED_CODE, OsGetLastError());
}

// The backup's flush opens it for writing, OPEN_EXISTING: only an existing plain file opens, is
// flushed and stays as it was; nothing else is opened, followed or waited on.
struct FlushOpenCase {
  const char* what;
  int (*make)(const std::string& path);
  uint32_t error;  // 0: the open succeeds
};

const FlushOpenCase FlushOpenCases[] = {
    {"plain file", [](const std::string& path) { return (WriteBytes(path, "keep"), 0); }, 0},
    {"missing", [](const std::string&) { return 0; }, ERROR_FILE_NOT_FOUND_CODE},
    {"folder", [](const std::string& path) { return mkdir(path.c_str(), 0755); },
     ERROR_ACCESS_DENIED_CODE},
    {"named pipe", [](const std::string& path) { return mkfifo(path.c_str(), 0644); },
     ERROR_ACCESS_DENIED_CODE},
    {"link to a plain file",
     [](const std::string& path) { return symlink("/etc/passwd", path.c_str()); },
     ERROR_ACCESS_DENIED_CODE},
};

class FlushOpenRows : public testing::TestWithParam<FlushOpenCase> {};

TEST_P(FlushOpenRows, OnlyAnExistingPlainFileOpensToBeFlushed) {
  LayerFolder folder;
  const FlushOpenCase& row = GetParam();
  std::string path = folder / "Qtv.ini_widthBack";
  ASSERT_EQ(0, row.make(path));
  FileHandle handle = OsCreateFile(path.c_str(), GENERIC_WRITE_ACCESS, FILE_SHARE_READ_MODE,
                                   OPEN_EXISTING_DISPOSITION, FILE_ATTRIBUTE_NORMAL_VALUE);
  if (row.error != 0) {
    EXPECT_EQ(InvalidFileHandle, handle);
    EXPECT_EQ(row.error, OsGetLastError());
    return;
  }
  ASSERT_NE(InvalidFileHandle, handle) << OsGetLastError();
  EXPECT_TRUE(OsFlushFileBuffers(handle)) << OsGetLastError();
  EXPECT_TRUE(OsCloseHandle(handle)) << OsGetLastError();
  EXPECT_EQ("keep", ReadBytes(path));
  EXPECT_FALSE(OsFlushFileBuffers(handle)) << "a closed handle was flushed";
  EXPECT_EQ(ERROR_GEN_FAILURE_CODE, OsGetLastError());
}

INSTANTIATE_TEST_SUITE_P(Rows, FlushOpenRows, testing::ValuesIn(FlushOpenCases),
                         RowName<FlushOpenCase>);

TEST(FileAccessTest, CloseFailsForAClosedHandle) {
  int ends[2];
  ASSERT_EQ(0, pipe(ends));
  close(ends[1]);
  EXPECT_TRUE(OsCloseHandle(ends[0]));
  EXPECT_FALSE(OsCloseHandle(ends[0]));
  EXPECT_EQ(ERROR_GEN_FAILURE_CODE, OsGetLastError());
}

// Each row opens its own descriptor, making in the scratch folder what it needs; the other end
// of a pipe or socket pair is closed, which leaves the kind of the end that is kept.
struct TypeCase {
  const char* what;
  int (*open)(const LayerFolder& folder);
  uint32_t type;
};

// The one end of a pipe or socket pair that is kept open.
int KeptEnd(int ends[2], int made) {
  if (made != 0) {
    return -1;
  }
  close(ends[1]);
  return ends[0];
}

const TypeCase TypeCases[] = {
    {"plain file",
     [](const LayerFolder& folder) {
       WriteBytes(folder / "file", "x");
       return open((folder / "file").c_str(), O_RDONLY);
     },
     FILE_TYPE_DISK_VALUE},
    {"character device", [](const LayerFolder&) { return open("/dev/null", O_WRONLY); },
     FILE_TYPE_CHAR_VALUE},
    {"pipe",
     [](const LayerFolder&) {
       int ends[2] = {-1, -1};
       return KeptEnd(ends, pipe(ends));
     },
     FILE_TYPE_PIPE_VALUE},
    {"socket",
     [](const LayerFolder&) {
       int pair[2] = {-1, -1};
       return KeptEnd(pair, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
     },
     FILE_TYPE_PIPE_VALUE},
    {"directory",
     [](const LayerFolder& folder) { return open(folder.Path().c_str(), O_RDONLY | O_DIRECTORY); },
     FILE_TYPE_UNKNOWN_VALUE},
};

class TypeRows : public testing::TestWithParam<TypeCase> {};

TEST_P(TypeRows, FileTypeFollowsWhatTheHandleIs) {
  LayerFolder folder;
  const TypeCase& row = GetParam();
  int descriptor = row.open(folder);
  ASSERT_GE(descriptor, 0);
  EXPECT_EQ(row.type, OsGetFileType(descriptor));
  close(descriptor);
}

INSTANTIATE_TEST_SUITE_P(Rows, TypeRows, testing::ValuesIn(TypeCases), RowName<TypeCase>);

// ---- Error codes ------------------------------------------------------------------------------

struct ErrorCase {
  const char* what;
  bool (*failingOperation)(const LayerFolder& folder);
  uint32_t error;
};

// Opens name for reading and, when that works, reads from it.
bool OpenAndRead(const std::string& name) {
  FileHandle handle = OpenForReading(name);
  if (handle == InvalidFileHandle) {
    return false;
  }
  char buffer[128];
  uint32_t count = 0;
  bool read = OsReadFile(handle, buffer, sizeof buffer, &count);
  OsCloseHandle(handle);
  return read;
}

// Opens name afresh for writing and, when that works, writes to it.
bool CreateAndWrite(const std::string& name) {
  FileHandle handle = CreateForWriting(name);
  if (handle == InvalidFileHandle) {
    return false;
  }
  uint32_t count = 0;
  bool written = OsWriteFile(handle, "data", 4, &count);
  OsCloseHandle(handle);
  return written;
}

// Fails the way a system call that set errno to Error fails, for the errors no operation here
// can be made to meet (a read-only file system, a full quota, a busy device...).
template <int Error>
bool FailsWith(const LayerFolder&) {
  errno = Error;
  posix_layer::FailErrno();
  return posix_layer::PublishFailure();
}

const ErrorCase ErrorCases[] = {
    {"missing file", [](const LayerFolder& folder) { return OpenAndRead(folder / "missing"); },
     ERROR_FILE_NOT_FOUND_CODE},
    {"directory opened to write",
     [](const LayerFolder& folder) { return CreateAndWrite(folder / "dir"); },
     ERROR_ACCESS_DENIED_CODE},
    {"name too long",
     [](const LayerFolder& folder) { return OpenAndRead(folder / std::string(300, 'n')); },
     ERROR_FILENAME_EXCED_RANGE_CODE},
    {"file another program reads, opened to write",
     [](const LayerFolder& folder) { return CreateAndWrite(folder / "read"); },
     ERROR_SHARING_VIOLATION_CODE},
    {"file another program rewrites, opened to read",
     [](const LayerFolder& folder) { return OpenAndRead(folder / "rewritten"); },
     ERROR_SHARING_VIOLATION_CODE},
    {"file another program rewrites, copied",
     [](const LayerFolder& folder) {
       return OsCopyFile((folder / "rewritten").c_str(), (folder / "c").c_str(), false);
     },
     ERROR_SHARING_VIOLATION_CODE},
    {"file replaced since it was read",
     [](const LayerFolder& folder) {
       OsCloseHandle(OpenForReading(folder / "file"));
       WriteBytes(folder / "other", "x");
       rename((folder / "other").c_str(), (folder / "file").c_str());
       return CreateAndWrite(folder / "file");
     },
     ERROR_SHARING_VIOLATION_CODE},
    {"file swapped for a link since it was read",
     [](const LayerFolder& folder) {
       OsCloseHandle(OpenForReading(folder / "read"));
       WriteBytes(folder / "elsewhere", "keep");
       symlink("elsewhere", (folder / "link").c_str());
       rename((folder / "link").c_str(), (folder / "read").c_str());
       return CreateAndWrite(folder / "read") || ReadBytes(folder / "elsewhere") != "keep";
     },
     ERROR_SHARING_VIOLATION_CODE},
    {"file swapped for a named pipe since it was looked at, read without waiting",
     [](const LayerFolder& folder) {
       OsGetFileAttributes((folder / "file").c_str());
       mkfifo((folder / "pipe").c_str(), 0644);
       rename((folder / "pipe").c_str(), (folder / "file").c_str());
       return OpenAndRead(folder / "file");
     },
     ERROR_SHARING_VIOLATION_CODE},
    {"file that fails to read",
     [](const LayerFolder&) {
       symlink("/proc/self/mem", "mem");
       return OpenAndRead("mem");
     },
     ERROR_IO_DEVICE_CODE},
    {"named pipe nobody reads, opened to write, without waiting",
     [](const LayerFolder& folder) {
       mkfifo((folder / "pipe").c_str(), 0644);
       return CreateAndWrite(folder / "pipe");
     },
     ERROR_ACCESS_DENIED_CODE},
    {"copy onto an existing file",
     [](const LayerFolder& folder) {
       return OsCopyFile((folder / "file").c_str(), (folder / "file").c_str(), true);
     },
     ERROR_FILE_EXISTS_CODE},
    {"reading a handle open for writing",
     [](const LayerFolder& folder) {
       FileHandle handle = CreateForWriting(folder / "file");
       char buffer[4];
       uint32_t count = 0;
       bool read = OsReadFile(handle, buffer, sizeof buffer, &count);
       OsCloseHandle(handle);
       return read;
     },
     ERROR_INVALID_HANDLE_CODE},
    {"ENOENT", FailsWith<ENOENT>, ERROR_FILE_NOT_FOUND_CODE},
    {"ENOTDIR", FailsWith<ENOTDIR>, ERROR_PATH_NOT_FOUND_CODE},
    {"EMFILE", FailsWith<EMFILE>, ERROR_TOO_MANY_OPEN_FILES_CODE},
    {"ENFILE", FailsWith<ENFILE>, ERROR_TOO_MANY_OPEN_FILES_CODE},
    {"EACCES", FailsWith<EACCES>, ERROR_ACCESS_DENIED_CODE},
    {"EPERM", FailsWith<EPERM>, ERROR_ACCESS_DENIED_CODE},
    {"EISDIR", FailsWith<EISDIR>, ERROR_ACCESS_DENIED_CODE},
    {"EROFS, a read-only file system", FailsWith<EROFS>, ERROR_WRITE_PROTECT_CODE},
    {"EBUSY", FailsWith<EBUSY>, ERROR_SHARING_VIOLATION_CODE},
    {"ETXTBSY", FailsWith<ETXTBSY>, ERROR_SHARING_VIOLATION_CODE},
    {"EEXIST", FailsWith<EEXIST>, ERROR_FILE_EXISTS_CODE},
    {"ENOSPC", FailsWith<ENOSPC>, ERROR_DISK_FULL_CODE},
    {"EDQUOT", FailsWith<EDQUOT>, ERROR_DISK_FULL_CODE},
    {"EFBIG", FailsWith<EFBIG>, ERROR_DISK_FULL_CODE},
    {"ENAMETOOLONG", FailsWith<ENAMETOOLONG>, ERROR_FILENAME_EXCED_RANGE_CODE},
    {"EIO", FailsWith<EIO>, ERROR_IO_DEVICE_CODE},
    // A closed output pipe.
    {"EPIPE", FailsWith<EPIPE>, ERROR_BROKEN_PIPE_CODE},
    {"EINVAL, any other", FailsWith<EINVAL>, ERROR_GEN_FAILURE_CODE},
};

// Each row's test has a plain file and a folder, and two files another program has open: one it
// reads, with a shared lock, and one it rewrites, with an exclusive lock.
class ErrorRows : public testing::TestWithParam<ErrorCase> {
 protected:
  void SetUp() override {
    WriteBytes(folder / "file", "x");
    ASSERT_EQ(0, mkdir((folder / "dir").c_str(), 0755));
    WriteBytes(folder / "read", "x");
    WriteBytes(folder / "rewritten", "x");
    reader = open((folder / "read").c_str(), O_RDONLY | O_CLOEXEC);
    writer = open((folder / "rewritten").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(0, flock(reader, LOCK_SH));
    ASSERT_EQ(0, flock(writer, LOCK_EX));
  }

  void TearDown() override {
    close(reader);
    close(writer);
  }

  LayerFolder folder;
  int reader = -1;
  int writer = -1;
};

TEST_P(ErrorRows, SystemErrorsBecomeTheirWin32Codes) {
  const ErrorCase& row = GetParam();
  EXPECT_FALSE(row.failingOperation(folder));
  EXPECT_EQ(row.error, OsGetLastError());
}

INSTANTIATE_TEST_SUITE_P(Rows, ErrorRows, testing::ValuesIn(ErrorCases), RowName<ErrorCase>);

TEST(ErrorCodeTest, AFileTheUserMayNotReadIsAccessDenied) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "giving a file to another user needs the superuser";
  }
  LayerFolder folder;
  ASSERT_EQ(0, chmod(folder.Path().c_str(), 0755));
  MakeFile(folder / "Qtv.ini", 0600);
  std::string name = folder / "Qtv.ini";
  native::ChildResult result = native::RunInChild([&] {
    if (setgid(NobodyUser) != 0 || setuid(NobodyUser) != 0) {
      return 100;
    }
    return OpenForReading(name) == InvalidFileHandle ? static_cast<int>(OsGetLastError()) : 101;
  });
  EXPECT_EQ(static_cast<int>(ERROR_ACCESS_DENIED_CODE), result.exitCode);
}

// Makes every call of the system call number call from now on in this process fail with error,
// except those whose first argument is spared (a descriptor). Returns false when the system
// refuses the filter.
bool FailCalls(int call, int error, uint32_t spared) {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(call), 0, 3),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, spared, 1, 0),
      BPF_STMT(BPF_RET | BPF_K,
               SECCOMP_RET_ERRNO | (static_cast<uint32_t>(error) & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  return InstallFilter(filter);
}

TEST(ErrorCodeTest, AReadThatFailsWithABrokenPipeIsAFailureNotTheEnd) {
  // A network or FUSE file system may give EPIPE: that is no end of the text, which the broken
  // pipe 109 would be.
  LayerFolder folder;
  WriteBytes(folder / "file", "x");
  std::string name = folder / "file";
  native::ChildResult result = native::RunInChild([&] {
    FileHandle handle = OpenForReading(name);
    char buffer[4];
    uint32_t count = 0;
    if (handle == InvalidFileHandle || !FailCalls(__NR_read, EPIPE)) {
      return 100;
    }
    return OsReadFile(handle, buffer, sizeof buffer, &count) ? 101
                                                             : static_cast<int>(OsGetLastError());
  });
  EXPECT_EQ(static_cast<int>(ERROR_NO_DATA_CODE), result.exitCode);
}

TEST(ErrorCodeTest, AFolderThatCannotBeFlushedAfterTheRenameSaysTheNewTextIsInPlace) {
  LayerFolder folder;
  std::string path = folder / "Qtv.ini";
  WriteBytes(path, "old");
  native::ChildResult result = native::RunInChild([&] {
    FileHandle handle = CreateForWriting(path);
    uint32_t written = 0;
    // The new file is made at close, on the lowest descriptor free: the one after the handle's.
    if (handle == InvalidFileHandle || !OsWriteFile(handle, "new", 3, &written) ||
        !FailCalls(__NR_fsync, EIO, static_cast<uint32_t>(handle + 1))) {
      return 100;
    }
    if (OsCloseHandle(handle)) {
      return 101;
    }
    std::string reason = posix_layer::ReasonLine(OsGetLastError());
    return reason.find(posix_layer::NotYetOnDiskReason) != std::string::npos
               ? static_cast<int>(OsGetLastError() & 0xFF)
               : 102;
  });
  EXPECT_EQ(static_cast<int>(ERROR_IO_DEVICE_CODE & 0xFF), result.exitCode)
      << "100: no filter; 101: the close succeeded; 102: the reason does not say so";
  EXPECT_EQ("new", ReadBytes(path));
}

TEST(ErrorCodeTest, TooManyOpenFiles) {
  LayerFolder folder;
  WriteBytes(folder / "file", "x");
  std::string name = folder / "file";
  native::ChildResult result = native::RunInChild([&] {
    // Allow no descriptor beyond those already open.
    int lowestFree = dup(STDIN_FILENO);
    close(lowestFree);
    rlimit limit{static_cast<rlim_t>(lowestFree), static_cast<rlim_t>(lowestFree)};
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
      return 100;
    }
    // A presence test that cannot look says nothing about the file: the run ends with the
    // report, never with "not found".
    FoundEntry entry{};
    return OsFindFirstEntry(name.c_str(), &entry) ? 101 : 102;
  });
  EXPECT_EQ(static_cast<int>(ERROR_TOO_MANY_OPEN_FILES_CODE), result.exitCode)
      << "101: found; 102: taken for missing";
  EXPECT_NE(std::string::npos, result.err.find("Runtime error   4 at ")) << result.err;
  EXPECT_NE(std::string::npos, result.err.find("file: Too many open files")) << result.err;
}

// ---- Copies -----------------------------------------------------------------------------------

struct CopyCase {
  const char* name;
  std::string bytes;
  unsigned mode;
};

std::string EveryByteValue() {
  std::string big;
  for (int i = 0; i < 100000; ++i) {
    big += static_cast<char>(i * 7 % 256);
  }
  return big;
}

class CopyRows : public testing::TestWithParam<CopyCase> {};

TEST_P(CopyRows, CopiesBytesModeAndTime) {
  const CopyCase& row = GetParam();
  LayerFolder folder;
  mode_t oldMask = umask(022);
  MakeFile(folder / "Qtv.ini", row.mode, row.bytes);
  native::SetModificationTime(folder / "Qtv.ini", native::UtcSeconds(2001, 2, 3, 4, 5, 6), 700);
  bool copied = OsCopyFile((folder / "Qtv.ini").c_str(), (folder / "copy").c_str(), false);
  umask(oldMask);
  ASSERT_TRUE(copied) << OsGetLastError();
  EXPECT_EQ(row.bytes, ReadBytes(folder / "copy"));
  EXPECT_EQ(row.mode, ModeOf(folder / "copy"));
  struct stat status {};
  ASSERT_EQ(0, stat((folder / "copy").c_str(), &status));
  EXPECT_EQ(native::UtcSeconds(2001, 2, 3, 4, 5, 6), status.st_mtim.tv_sec);
  EXPECT_EQ(700, status.st_mtim.tv_nsec);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CopyRows,
    testing::Values(CopyCase{"Empty", std::string(), 0640},
                    CopyCase{"ControlBytesAndNul", std::string("[DESKTOP]\r\n\x1A\0z", 14), 0666},
                    CopyCase{"EveryByteValue", EveryByteValue(), 0604}),
    [](const testing::TestParamInfo<CopyCase>& row) { return std::string(row.param.name); });

TEST(CopyFileTest, ReplacesALongerDestinationWithTheSourcesMode) {
  LayerFolder folder;
  MakeFile(folder / "Qtv.ini", 0600, "short");
  MakeFile(folder / "Qtv.ini_widthBack", 0664, std::string(5000, 'L'));
  ASSERT_TRUE(
      OsCopyFile((folder / "Qtv.ini").c_str(), (folder / "Qtv.ini_widthBack").c_str(), false));
  EXPECT_EQ("short", ReadBytes(folder / "Qtv.ini_widthBack"));
  EXPECT_EQ(0600u, ModeOf(folder / "Qtv.ini_widthBack"));
}

TEST(CopyFileTest, FailIfExistsCopiesOnlyToANewName) {
  LayerFolder folder;
  WriteBytes(folder / "Qtv.ini", "source");
  ASSERT_TRUE(OsCopyFile((folder / "Qtv.ini").c_str(), (folder / "new").c_str(), true));
  EXPECT_EQ("source", ReadBytes(folder / "new"));
  WriteBytes(folder / "old", "old");
  EXPECT_FALSE(OsCopyFile((folder / "Qtv.ini").c_str(), (folder / "old").c_str(), true));
  EXPECT_EQ(ERROR_FILE_EXISTS_CODE, OsGetLastError());
  EXPECT_EQ("old", ReadBytes(folder / "old"));
}

TEST(CopyFileTest, ReadOnlySourceGivesAReadOnlyCopyThatIsNotOverwritten) {
  LayerFolder folder;
  MakeFile(folder / "Qtv.ini", 0444, "first");
  ASSERT_TRUE(OsCopyFile((folder / "Qtv.ini").c_str(), (folder / "back").c_str(), false));
  EXPECT_EQ(0444u, ModeOf(folder / "back"));
  EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE_BIT | FILE_ATTRIBUTE_READONLY_BIT,
            OsGetFileAttributes((folder / "back").c_str()));
  MakeFile(folder / "Qtv.ini", 0644, "second");
  EXPECT_FALSE(OsCopyFile((folder / "Qtv.ini").c_str(), (folder / "back").c_str(), false));
  EXPECT_EQ(ERROR_ACCESS_DENIED_CODE, OsGetLastError());
  EXPECT_EQ("first", ReadBytes(folder / "back"));
}

// A copy that must be refused, by names in a folder holding the file Qtv.ini, the folder dir and
// a link zero to /dev/zero.
struct FailedCopyCase {
  const char* name;
  std::string source;
  std::string destination;
  uint32_t error;
};

class FailedCopyRows : public testing::TestWithParam<FailedCopyCase> {};

TEST_P(FailedCopyRows, LeaveTheDestinationAlone) {
  const FailedCopyCase& row = GetParam();
  LayerFolder folder;
  WriteBytes(folder / "Qtv.ini", "source");
  ASSERT_EQ(0, mkdir("dir", 0755));
  ASSERT_EQ(0, symlink("/dev/zero", "zero"));
  EXPECT_FALSE(OsCopyFile(row.source.c_str(), row.destination.c_str(), false));
  EXPECT_EQ(row.error, OsGetLastError());
  EXPECT_EQ("source", ReadBytes(folder / "Qtv.ini"));
  EXPECT_NE(0, access((folder / "dest").c_str(), F_OK));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FailedCopyRows,
    testing::Values(
        FailedCopyCase{"MissingSource", "missing", "dest", ERROR_FILE_NOT_FOUND_CODE},
        FailedCopyCase{"DirectoryAsSource", "dir", "dest", ERROR_ACCESS_DENIED_CODE},
        FailedCopyCase{"EndlessDeviceAsSource", "zero", "dest", ERROR_ACCESS_DENIED_CODE},
        FailedCopyCase{"DirectoryAsDestination", "Qtv.ini", "dir", ERROR_ACCESS_DENIED_CODE},
        FailedCopyCase{"FileOntoItself", "Qtv.ini", "Qtv.ini", ERROR_SHARING_VIOLATION_CODE},
        FailedCopyCase{"FileOntoItselfByAnotherName", "Qtv.ini", "QTV.INI",
                       ERROR_SHARING_VIOLATION_CODE}),
    [](const testing::TestParamInfo<FailedCopyCase>& row) { return std::string(row.param.name); });

}  // namespace

namespace {

// ---- What a planted entry can cost -------------------------------------------------------------

// A ground the look must judge: how it is laid in the scratch folder (the current one), and the
// error a read of Qtv.ini and a copy of it to Qtv.ini_widthBack fail with (0: they work).
struct GroundCase {
  const char* what;
  void (*lay)();
  uint32_t error;
};

const GroundCase GroundCases[] = {
    {"link of another user on the way",
     [] {
       WriteBytes("Qtv.real", "x");
       ASSERT_EQ(0, symlink(".", "sub"));
       ASSERT_EQ(0, lchown("sub", NobodyUser, NobodyUser));
       ASSERT_EQ(0, symlink("sub/Qtv.real", "Qtv.ini"));
     },
     ERROR_ACCESS_DENIED_CODE},
    {"own link on the way",
     [] {
       WriteBytes("Qtv.real", "x");
       ASSERT_EQ(0, symlink(".", "sub"));
       ASSERT_EQ(0, symlink("sub/Qtv.real", "Qtv.ini"));
     },
     0},
    {"hard-linked link in a folder others can write",
     [] {
       WriteBytes("secret", "x");
       ASSERT_EQ(0, symlink("secret", "planted"));
       ASSERT_EQ(0, linkat(AT_FDCWD, "planted", AT_FDCWD, "Qtv.ini", 0));
       ASSERT_EQ(0, chmod(".", 0777));
     },
     ERROR_ACCESS_DENIED_CODE},
    {"file larger than any settings file",
     [] {
       WriteBytes("Qtv.ini", "x");
       ASSERT_EQ(0, truncate("Qtv.ini", off_t{300} * 1024 * 1024));
     },
     posix_layer::FileTooLargeCode},
};

class GroundRows : public testing::TestWithParam<GroundCase> {};

TEST_P(GroundRows, TheLookJudgesEveryLinkAndWhatAFileCosts) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "giving a link to another user needs the superuser";
  }
  const GroundCase& row = GetParam();
  LayerFolder folder;
  row.lay();
  FileHandle handle = OpenForReading("Qtv.ini");
  EXPECT_EQ(row.error, handle == InvalidFileHandle ? OsGetLastError() : 0);
  if (handle != InvalidFileHandle) {
    OsCloseHandle(handle);
  }
  EXPECT_EQ(row.error == 0, OsCopyFile("Qtv.ini", "Qtv.ini_widthBack", false));
  EXPECT_EQ(row.error == 0, access("Qtv.ini_widthBack", F_OK) == 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, GroundRows, testing::ValuesIn(GroundCases), RowName<GroundCase>);

TEST(CopyFileTest, ASparseFileKeepsItsHoles) {
  LayerFolder folder;
  WriteBytes("Qtv.ini", "[DESKTOP]\r\n");
  ASSERT_EQ(0, truncate("Qtv.ini", off_t{64} * 1024 * 1024));
  ASSERT_TRUE(OsCopyFile("Qtv.ini", "Qtv.ini_widthBack", false)) << OsGetLastError();
  struct stat copy {};
  ASSERT_EQ(0, stat("Qtv.ini_widthBack", &copy));
  EXPECT_EQ(off_t{64} * 1024 * 1024, copy.st_size);
  EXPECT_LT(copy.st_blocks * 512, off_t{1024} * 1024) << "the holes were filled";
  EXPECT_EQ(ReadBytes("Qtv.ini"), ReadBytes("Qtv.ini_widthBack"));
}

TEST(FileAccessTest, AFileIsNeverOpenedAsAStandardStream) {
  LayerFolder folder;
  WriteBytes("Qtv.ini", "x");
  native::ChildResult result = native::RunInChild([&] {
    // The run's folder and the name's record are open already, as after a presence test.
    OsGetFileAttributes("Qtv.ini");
    close(STDERR_FILENO);
    FileHandle handle = OpenForReading("Qtv.ini");
    return handle == InvalidFileHandle ? 100 : static_cast<int>(handle);
  });
  EXPECT_LT(STDERR_FILENO, result.exitCode);
  EXPECT_NE(100, result.exitCode);
}

TEST(CopyFileTest, AFolderTheUserMayWriteButNotListServesFully) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "giving a folder to another user needs the superuser";
  }
  LayerFolder folder;
  MakeFile("Qtv.ini", 0644);
  ASSERT_EQ(0, chown("Qtv.ini", NobodyUser, NobodyUser));
  ASSERT_EQ(0, chown(".", NobodyUser, NobodyUser));
  ASSERT_EQ(0, chmod(".", 0300));
  native::ChildResult result = native::RunInChild([&] {
    posix_layer::ForgetRun();
    if (setgid(NobodyUser) != 0 || setuid(NobodyUser) != 0) {
      return 100;
    }
    return OsCopyFile("Qtv.ini", "Qtv.ini_widthBack", false) ? 0
                                                             : static_cast<int>(OsGetLastError());
  });
  ASSERT_EQ(0, chmod(".", 0755));
  EXPECT_EQ(0, result.exitCode);
  EXPECT_EQ("x", ReadBytes("Qtv.ini_widthBack"));
}

}  // namespace
