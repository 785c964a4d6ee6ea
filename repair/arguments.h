// The repair tool's command line: at most one argument, the new pane width in pixels.
#pragma once

#include <cstdint>
#include <string>

// The width written when the command line gives none.
constexpr int32_t DefaultWidth = 430;

// Accepted widths are MinWidth..MaxWidth pixels.
constexpr int32_t MinWidth = 1;
constexpr int32_t MaxWidth = 32767;

// Outside a quoted run a token holds at most this many bytes; the next token starts right after.
constexpr size_t MaxTokenBytes = 4096;

// The width the repair run writes: DefaultWidth unless CheckArguments accepted another.
extern int32_t TargetWidth;

// Reads one token of a command line from *position and moves *position past it. Bytes from 0x01
// to 0x20 separate tokens; a pair of double quotes in a row is no token at all; a double quote
// opens a run, blanks included, up to the next double quote or the end of the text. Quoted and
// unquoted runs join into one token without their quotes. Empty only at the end of the text.
std::string ReadCommandToken(const char** position);

// The number of arguments on the command line, the program's own name not counted.
int CountArguments(const char* commandLine);

// Argument n (1 for the first after the program's name); empty when there is none.
std::string ArgumentAt(const char* commandLine, int n);

// The whole text as a 32-bit integer: leading spaces, then either a decimal number with an
// optional sign, or a hexadecimal one after "$", "x", "X", "0x" or "0X" (at most eight
// significant digits, read as a two's-complement pattern). Sets *ok and returns the value; on any
// other text sets *ok to false and returns 0.
int32_t TextToInteger(const std::string& text, bool* ok);

// The decimal text of value: a minus sign when negative, no leading zeros.
std::string IntegerToText(int32_t value);

// Reads the command line. No argument keeps DefaultWidth; one valid width becomes TargetWidth.
// Returns false after showing one error box when there are too many arguments, the argument is
// not a number, or the number is out of range.
bool CheckArguments();
