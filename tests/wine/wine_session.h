// The Linux side of the Wine end-to-end tests: a private X display (Xvfb), a Wine prefix of the
// tests' own with a persistent wineserver, and the running of Linux processes with their output
// captured.
//
// Tests run as root run Wine, Xvfb and the other Linux processes as an unprivileged account of
// their own, so that Wine meets the same refusals as a user's programs.
//
// A session is either shared, started by the "--start-wine-session" run that CTest makes before
// the Wine tests and ended by "--stop-wine-session" after them, or private to one test process
// when no shared session is up (the test binary run by hand). Nothing started here outlives the
// session: its end stops the wineserver, with every Wine process of the prefix, and Xvfb.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace winetest {

// Where the Windows programs and the Win32 helpers of this process's target were built: the
// 64-bit build, or the 32-bit one with PANEFIX_WINE_TARGET=x86; PANEFIX_WINDOWS_BUILD_DIR
// overrides.
std::string WindowsBuildDir();

// A file of the Windows build, by its path inside the build folder ("viewer/Panepeek.exe").
std::string WindowsBuildFile(const std::string& relativePath);

// Where the Win32 helpers are built inside the Windows build folder.
constexpr const char* HelpersBuildDir = "tests/wine/helpers/";

// A Win32 helper ("box_reader.exe") as Wine runs it: the session copies the helpers of the
// Windows build into its work folder, where the account that runs Wine can read them.
std::string HelperPath(const std::string& name);

// The Wine name of a Linux path: drive Z: is the Linux root.
std::string ToWindowsPath(const std::string& linuxPath);

// The wineserver of this process's session, or -1 when none runs. Wine names the server's working
// folder after the device and inode of its prefix ("server-fe00-10a6e1"), which tells it from the
// servers of other prefixes.
pid_t SessionWineServer();

// Gives a file or folder the tests made to the account Wine runs as, when that is not the
// tests' own. Throws when that fails.
void GiveToWineUser(const std::string& path);

// Gives a file to root, a user other than the one Wine runs as. Returns false, saying why, when
// the tests do not run as root.
bool GiveToAnotherUser(const std::string& path, std::string* whyNot);

// Starts the session for this process: attaches to the shared session when one is up, else
// starts a private one. Returns false with the reason in *whyNot when Wine cannot run here (a
// tool missing, Xvfb refusing to start, the prefix failing to initialise).
bool StartSession(std::string* whyNot);

// Ends a private session; a shared one is left to "--stop-wine-session".
void EndSession();

// The two CTest fixture steps. They return the process exit code; a start that cannot run Wine
// here prints a "[  SKIPPED ]" line and succeeds, so that the tests themselves report the reason.
int StartSharedSession();
int StopSharedSession();

// A Linux child process with pipes to its standard input and output.
struct Child {
  pid_t pid = -1;
  int input = -1;   // write end, or -1
  int output = -1;  // read end, or -1
};

// Starts argv[0] (looked up in PATH) in folder, with its standard input and output on pipes and
// its standard error appended to the session log.
Child StartChild(const std::vector<std::string>& argv, const std::string& folder);

// Reads the child's output up to the next newline, waiting at most timeoutMs. Returns false on
// the end of the output or the timeout.
bool ReadLine(Child* child, std::string* line, int timeoutMs);

// Closes the child's input, waits at most timeoutMs for it to end (then kills it) and closes its
// pipes. Returns the exit status as waitpid gives it.
int FinishChild(Child* child, int timeoutMs);

// Runs argv to its end in folder, with no input, and returns everything it printed on standard
// output. Kills it after timeoutMs; *exitStatus (if given) receives the waitpid status.
std::string RunToEnd(const std::vector<std::string>& argv, const std::string& folder, int timeoutMs,
                     int* exitStatus = nullptr);

}  // namespace winetest
