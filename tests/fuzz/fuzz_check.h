// How the fuzz targets report a broken property: a message naming it, then a trap that libFuzzer
// records as a crash together with the input.
#pragma once

#include <cstdio>

[[noreturn]] inline void Violated(const char* property) {
  std::fprintf(stderr, "broken: %s\n", property);
  __builtin_trap();
}

inline void Require(bool holds, const char* property) {
  if (!holds) {
    Violated(property);
  }
}
