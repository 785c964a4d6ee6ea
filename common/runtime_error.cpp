#include "runtime_error.h"

#include <cstdio>
#include <new>

#include "platform.h"

#if defined(_MSC_VER)
#include <intrin.h>
#define NEVER_INLINE __declspec(noinline)
#define RETURN_ADDRESS() _ReturnAddress()
#else
#define NEVER_INLINE __attribute__((noinline))
#define RETURN_ADDRESS() __builtin_return_address(0)
#endif

namespace {

constexpr const char* ReportCaption = "Error";

NEVER_INLINE void ExitOnExhaustedMemory() {
  RuntimeErrorExit(OutOfMemoryError, OsImageOffset(RETURN_ADDRESS()));
}

}  // namespace

void FormatRuntimeErrorReport(uint32_t errorNumber, uint32_t failureSite, char* buffer) {
  std::snprintf(buffer, ReportBufferSize, "Runtime error %3lu at %08lX",
                static_cast<unsigned long>(errorNumber), static_cast<unsigned long>(failureSite));
}

void RuntimeErrorExit(uint32_t errorNumber, uint32_t failureSite) {
  char report[ReportBufferSize];
  FormatRuntimeErrorReport(errorNumber, failureSite, report);
  OsMessageBox(report, ReportCaption, MB_OK_STYLE);
  OsExitProcess(errorNumber);
}

NEVER_INLINE void TestFileOperation(uint32_t errorNumber) {
  if (errorNumber != 0) {
    RuntimeErrorExit(errorNumber, OsImageOffset(RETURN_ADDRESS()));
  }
}

void InstallOutOfMemoryExit() { std::set_new_handler(ExitOnExhaustedMemory); }
