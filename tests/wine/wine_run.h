// Running the Windows programs under Wine as a user would, and reading what they showed.
//
// Each test works in a fresh folder of its own, copies the program under test into it (the
// programs are meant to be started from the host's folder) and starts it through box_reader.exe,
// which answers the program's message boxes and reports them. Texts in this interface are UTF-8,
// except file contents and command lines, which are the code page 932 bytes the programs see
// (Cp932 converts).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "byte_text.h"
#include "wine_session.h"

namespace winetest {

// The Windows programs and helpers, by their paths inside the Windows build folder.
constexpr const char* ViewerProgram = "viewer/Panepeek.exe";
constexpr const char* RepairProgram = "repair/Panefix.exe";

// The bytes of a Linux file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// UTF-8 text as code page 932 bytes, and back.
using support::Cp932;
using support::Utf8FromCp932;

// One message box as the user saw it.
struct SeenBox {
  std::string caption;
  std::string text;
  std::string icon;           // "stop", "exclamation", "other" (information, question), "none";
                              // "blank": an icon was set but never appeared on the screen
  std::string buttons;        // visible buttons, comma-separated: "ok", "yes,no", ...
  std::string defaultButton;  // "ok", "yes", "no", ...
  bool foreground = false;    // it was the foreground window (under Wine every new box is)
  bool topmost = false;       // it was kept above other windows (Wine 8 ignores MB_TOPMOST)
  bool expected = false;      // false: a box beyond those the test answered
  std::string action;         // how it was answered
};

// What one start of a program showed, and how it ended.
struct ProgramRun {
  std::vector<SeenBox> boxes;
  bool ended = false;  // the program ended by itself and its exit code is known
  uint32_t exitCode = 0;
  std::vector<std::string> problems;  // box_reader's complaints: missing boxes, a hung program
  std::string report;                 // box_reader's whole report, for failure messages
};

// Parses a box_reader report.
ProgramRun ParseBoxReport(const std::string& report);

// A fresh folder under /tmp (drive Z: in Wine), removed with everything in it at the end. The
// folder and what is made in it belong to the account Wine runs as.
class TestFolder {
 public:
  TestFolder();
  ~TestFolder();
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string WindowsPath() const { return ToWindowsPath(path_); }
  std::string PathOf(const std::string& name) const { return path_ + "/" + name; }
  std::string WindowsPathOf(const std::string& name) const { return ToWindowsPath(PathOf(name)); }

  void Write(const std::string& name, const std::string& bytes) const;
  std::string Read(const std::string& name) const;
  bool Exists(const std::string& name) const;
  void MakeDirectory(const std::string& name) const;
  // Sets the last-write time, in seconds since 1970 (UTC).
  void SetLastWriteTime(const std::string& name, long long secondsSince1970) const;
  // Copies a file of the Windows build into the folder; returns its name there.
  std::string CopyFromBuild(const std::string& relativePath) const;

 private:
  std::string path_;
};

// Every entry of a folder: name, then its bytes (directories: "<dir>"), mode and last-write time.
using FolderSnapshot = std::map<std::string, std::string>;
FolderSnapshot Snapshot(const TestFolder& folder);

// The command line Explorer would use for a program in the folder: its full path, quoted, then
// the arguments as given.
std::string ProgramCommandLine(const TestFolder& folder, const std::string& programName,
                               const std::string& arguments = "");

// Starts the program with commandLine (code page 932 bytes) in folder, answers one box per action
// ("ok", "yes", "no", "cancel", "enter"), and returns what was seen.
ProgramRun RunProgram(const TestFolder& folder, const std::string& commandLine,
                      const std::vector<std::string>& actions);

// RunProgram under strace, which follows every process the run starts and the session's
// wineserver (which opens the files the programs ask for), and writes the system calls of the set
// given ("trace=..." of strace), their descriptors shown with their paths, to the Linux file
// tracePath. Returns a run with a problem when no wineserver is found.
ProgramRun RunProgramTraced(const TestFolder& folder, const std::string& commandLine,
                            const std::vector<std::string>& actions, const std::string& calls,
                            const std::string& tracePath);

// A running Windows helper that stays until destroyed (or Stop): the stand-in host window, or a
// file held open.
class HeldHelper {
 public:
  HeldHelper() = default;
  ~HeldHelper() { Stop(); }
  HeldHelper(const HeldHelper&) = delete;
  HeldHelper& operator=(const HeldHelper&) = delete;

  // Starts the helper and waits for its "ready". Returns false with its complaint in *whyNot.
  bool Start(const std::vector<std::string>& helperArgs, std::string* whyNot);
  void Stop();

 private:
  Child child_;
};

// Shows a window of the host's main-window class until stopped.
bool StartStandinHost(HeldHelper* host, std::string* whyNot);

// Holds the file open with access and share given as letters r, w, d, or "-" for none.
bool StartFileHolder(HeldHelper* holder, const TestFolder& folder, const std::string& name,
                     const std::string& access, const std::string& share, std::string* whyNot);

// A file's attributes as Windows reports them (GetFileAttributesA), after setting them first
// (SetFileAttributesA) when a value is given. Returns false when a call fails, with its error code
// in *attributes. Wine keeps the read-only bit in the Linux permissions and hidden and system in
// an extended attribute, and reports every plain file as archived, whatever was set.
bool WindowsAttributes(const TestFolder& folder, const std::string& name, uint32_t* attributes);
bool SetWindowsAttributes(const TestFolder& folder, const std::string& name, uint32_t attributes);

// The version record and icon groups of a Windows program as Windows reads them, as the
// "key=value" lines of version_reader.exe, in order.
std::vector<std::pair<std::string, std::string>> ReadVersionRecord(const std::string& programPath);

}  // namespace winetest
