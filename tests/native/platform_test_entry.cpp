// The platform layer's tests start through the layer's own main(), as both programs do: it
// records the command line and calls ProgramMain, which here runs the tests.
#include "platform_test_entry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "native_support.h"
#include "platform.h"

namespace {

// The test program's own arguments, exactly as it received them.
std::vector<std::string> OwnArguments() {
  std::string all = native::ReadBytes("/proc/self/cmdline");
  std::vector<std::string> words;
  size_t start = 0;
  for (size_t end = all.find('\0'); end != std::string::npos; end = all.find('\0', start)) {
    words.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

}  // namespace

std::string OwnProgramPath() { return std::filesystem::read_symlink("/proc/self/exe").string(); }

bool ProgramMain() {
  if (std::getenv(PrintCommandLineVariable) != nullptr) {
    std::fputs(OsGetCommandLine(), stdout);
    return true;
  }
  if (std::getenv(StandInVariable) != nullptr) {
    std::vector<std::string> words = OwnArguments();
    sleep(words.size() > 1 ? static_cast<unsigned>(std::atoi(words[1].c_str())) : 0);
    return true;
  }
  std::vector<std::string> words = OwnArguments();
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  int argc = static_cast<int>(words.size());
  testing::InitGoogleTest(&argc, argv.data());
  OsExitProcess(static_cast<uint32_t>(RUN_ALL_TESTS()));
}
