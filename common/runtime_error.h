// The one fatal-failure path of both programs: the I/O failure report.
#pragma once

#include <cstddef>
#include <cstdint>

// Error number for exhausted memory.
constexpr uint32_t OutOfMemoryError = 203;

// Error number for a write that the platform reported as done but that stored fewer bytes than
// were passed (a disk write error).
constexpr uint32_t ShortWriteError = 101;

// Length of the report text with a number of at most three digits; longer numbers widen it.
constexpr size_t ReportTextLength = 29;

// Room for the longest report: ten digits of error number, and the terminating NUL.
constexpr size_t ReportBufferSize = ReportTextLength + 7 + 1;

// Writes "Runtime error nnn at SSSSSSSS" into buffer (ReportBufferSize bytes): the number
// right-aligned in three places, widened to the left for longer numbers, and the failure site
// as eight upper-case hexadecimal digits. Allocates nothing, so it serves when memory is gone.
void FormatRuntimeErrorReport(uint32_t errorNumber, uint32_t failureSite, char* buffer);

// Shows the report in a plain "Error" box and ends the process with errorNumber as exit code.
[[noreturn]] void RuntimeErrorExit(uint32_t errorNumber, uint32_t failureSite);

// The file operation test: 0 lets the run go on; any other number ends the process through
// RuntimeErrorExit. The failure site is the place right after the call, so every call site of
// this test reports a site of its own.
void TestFileOperation(uint32_t errorNumber);

// Makes exhausted memory, anywhere in the run, end the process through RuntimeErrorExit
// with OutOfMemoryError.
void InstallOutOfMemoryExit();
