// Signals on the POSIX platform layer: a run that a signal ends removes the new files that still
// have a temporary name, and the steps that must not be cut hold every signal that can wait.
#pragma once

#include <signal.h>

#include <string>

namespace posix_layer {

// Records a new file's temporary name in folder, for removal when the run ends before it is
// renamed. Call with signals held.
void RecordUnfinished(int folder, const std::string& name);

// Forgets a name recorded so, once the file has been renamed or removed. Call with signals held.
void ForgetUnfinished(int folder, const std::string& name);

// Removes every new file that still has a temporary name. Safe in a signal handler.
void RemoveUnfinishedFiles();

// Makes every signal whose default action ends the process (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGUSR1, SIGALRM, ... and the faults) remove the unfinished files first and then end the process
// as the signal ends it. A signal the process was started with ignored stays ignored.
void RemoveUnfinishedFilesOnInterrupt();

// Holds back, until scope end, every signal that would end the process and can wait: a handler
// never sees a name half recorded or a file renamed but still recorded under its temporary name,
// and a file written in place is never left half written by one.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_{};
};

}  // namespace posix_layer
