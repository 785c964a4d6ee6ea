// Signals on the POSIX platform layer: the names of unfinished new files, removed by the handler
// of every signal that ends the run, and the holding of signals around the steps that must not be
// cut.
#include "posix_signals.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

namespace {

// The first real-time signal of the kernel; the C library keeps the first few for itself.
constexpr int FirstRealTimeSignal = 32;

// The new files that have a temporary name, for a signal handler to remove: at most the backup
// copy and the rewrite of a run are under way at once.
constexpr int MaxUnfinishedFiles = 2;
constexpr size_t MaxNameLength = NAME_MAX + 1;
struct UnfinishedFile {
  volatile sig_atomic_t used;
  int folder;
  char name[MaxNameLength];
};
UnfinishedFile UnfinishedFiles[MaxUnfinishedFiles];

// Signals that come from a fault of the process itself, at the instruction that caused it: held
// back, they would end it at once all the same.
const int FaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT};

// Signals whose default action does not end the process (it ignores, stops or continues it), and
// the two that nothing can catch.
const int NonEndingSignals[] = {SIGCHLD, SIGCONT, SIGSTOP,  SIGTSTP, SIGTTIN,
                                SIGTTOU, SIGURG,  SIGWINCH, SIGKILL};

template <size_t Count>
bool IsOneOf(int signal, const int (&list)[Count]) {
  for (int member : list) {
    if (member == signal) {
      return true;
    }
  }
  return false;
}

// Whether signal is one whose default action ends the process and that a handler can catch. The
// real-time signals that the C library keeps for itself (below SIGRTMIN) are left to it.
bool IsEndingSignal(int signal) {
  bool libraryOwn = signal >= FirstRealTimeSignal && signal < SIGRTMIN;
  return signal > 0 && signal <= SIGRTMAX && !libraryOwn && !IsOneOf(signal, NonEndingSignals);
}

void OnInterrupt(int signal) {
  posix_layer::RemoveUnfinishedFiles();
  raise(signal);
}

}  // namespace

namespace posix_layer {

void RecordUnfinished(int folder, const std::string& name) {
  for (UnfinishedFile& file : UnfinishedFiles) {
    if (file.used == 0 && name.size() < MaxNameLength) {
      file.folder = folder;
      std::memcpy(file.name, name.c_str(), name.size() + 1);
      file.used = 1;
      return;
    }
  }
}

void ForgetUnfinished(int folder, const std::string& name) {
  for (UnfinishedFile& file : UnfinishedFiles) {
    if (file.used != 0 && file.folder == folder && name == file.name) {
      file.used = 0;
    }
  }
}

void RemoveUnfinishedFiles() {
  for (UnfinishedFile& file : UnfinishedFiles) {
    if (file.used != 0) {
      unlinkat(file.folder, file.name, 0);
      file.used = 0;
    }
  }
}

void RemoveUnfinishedFilesOnInterrupt() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  // Reset to the default and not held back, so that raise() in the handler ends the process.
  action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
  sigemptyset(&action.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) {
    struct sigaction current {};
    // A signal the run was started with ignored (nohup) stays ignored.
    if (IsEndingSignal(signal) && sigaction(signal, nullptr, &current) == 0 &&
        current.sa_handler != SIG_IGN) {
      sigaction(signal, &action, nullptr);
    }
  }
}

SignalsHeld::SignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int signal = 1; signal < NSIG; ++signal) {
    if (IsEndingSignal(signal) && !IsOneOf(signal, FaultSignals)) {
      sigaddset(&held, signal);
    }
  }
  sigprocmask(SIG_BLOCK, &held, &previous_);
}

SignalsHeld::~SignalsHeld() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace posix_layer
