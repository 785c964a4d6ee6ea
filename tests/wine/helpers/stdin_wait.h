// What the long-running helpers share: telling the driver they are ready, and staying until it
// lets them go by closing their standard input.
#pragma once

#include <windows.h>

#include <cstdio>

// Prints one line for the driver, which waits for it.
inline void TellDriver(const char* line) {
  std::fputs(line, stdout);
  std::fputs("\n", stdout);
  std::fflush(stdout);
}

// Returns when standard input reaches its end: the driver closed its side of the pipe, or ended.
inline void WaitForEndOfInput() {
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char buffer[64];
  DWORD got = 0;
  while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
  }
}
