// Fuzz target: any bytes as the repair tool's command line. The text is split by the real
// command-line reader and checked against a plain one-pass reading of the same rules; every
// token, and the whole input, goes through the real number conversion and is checked against a
// plain reading of the number syntax; and CheckArguments, on the platform test double, must
// accept or refuse the line as those readings say. A broken property stops the run with a trap.
//
// The reader gets a copy of the bytes in a buffer of exactly their size plus the terminating NUL,
// so that AddressSanitizer catches a read past the end of the text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "arguments.h"
#include "fuzz_check.h"
#include "platform_double.h"

namespace {

constexpr size_t TokenLimit = 4096;
constexpr int32_t DefaultTarget = 430;
constexpr int32_t WidestTarget = 32767;
constexpr size_t HexDigitsAtMost = 8;

const char DecimalDigits[] = "0123456789";
const char HexDigits[] = "0123456789abcdefABCDEF";
const char LargestPositive[] = "2147483647";
const char LargestNegative[] = "2147483648";  // its magnitude

// Distinctive parts of the three refusals of CheckArguments.
const char TooManyMark[] = "多すぎ";
const char FormatMark[] = "形式";
const char RangeMark[] = "範囲外";

bool IsBlankByte(unsigned char byte) { return byte >= 0x01 && byte <= 0x20; }

// The tokens of a NUL-terminated command line, read in one pass: the program's name first, then
// every argument up to the first empty token, which is left out unless it is the name itself.
std::vector<std::string> ExpectedTokens(const char* text) {
  std::vector<std::string> tokens;
  size_t at = 0;
  for (;;) {
    // Blanks, and pairs of double quotes, before the token.
    for (;;) {
      while (IsBlankByte(static_cast<unsigned char>(text[at]))) {
        ++at;
      }
      if (text[at] == '"' && text[at + 1] == '"') {
        at += 2;
      } else {
        break;
      }
    }
    std::string token;
    bool quoted = false;
    while (text[at] != '\0') {
      char byte = text[at];
      if (quoted) {
        // Inside a quoted run everything counts, blanks included, and no limit applies.
        if (byte == '"') {
          quoted = false;
        } else {
          token += byte;
        }
      } else if (IsBlankByte(static_cast<unsigned char>(byte)) || token.size() >= TokenLimit) {
        break;
      } else if (byte == '"') {
        quoted = true;
      } else {
        token += byte;
      }
      ++at;
    }
    if (token.empty()) {
      if (tokens.empty()) {
        tokens.push_back(token);
      }
      return tokens;
    }
    tokens.push_back(token);
  }
}

struct Number {
  bool ok;
  int32_t value;
};

const Number NoNumber = {false, 0};

bool AllOf(const std::string& text, const char* allowed) {
  return text.find_first_not_of(allowed) == std::string::npos;
}

std::string WithoutLeadingZeros(const std::string& digits) {
  size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? std::string() : digits.substr(first);
}

// The whole text read by the number syntax: leading spaces, then a decimal number with an
// optional sign, or a hexadecimal one behind $, x, X, 0x or 0X. Decimal limits are checked by
// comparing digit strings, hexadecimal values are put together in 64 bits.
Number ExpectedNumber(const std::string& text) {
  size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) {
    return NoNumber;
  }
  const std::string rest = text.substr(start);

  size_t prefix = 0;
  if (rest[0] == '$' || rest[0] == 'x' || rest[0] == 'X') {
    prefix = 1;
  } else if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
    prefix = 2;
  }
  if (prefix > 0) {
    const std::string digits = rest.substr(prefix);
    if (digits.empty() || !AllOf(digits, HexDigits)) {
      return NoNumber;
    }
    const std::string significant = WithoutLeadingZeros(digits);
    if (significant.size() > HexDigitsAtMost) {
      return NoNumber;
    }
    int64_t pattern = significant.empty() ? 0 : std::stoll(significant, nullptr, 16);
    // The 32-bit pattern as a two's-complement value.
    int64_t value = pattern >= (int64_t{1} << 31) ? pattern - (int64_t{1} << 32) : pattern;
    return Number{true, static_cast<int32_t>(value)};
  }

  bool negative = rest[0] == '-';
  const std::string digits = (rest[0] == '-' || rest[0] == '+') ? rest.substr(1) : rest;
  if (digits.empty() || !AllOf(digits, DecimalDigits)) {
    return NoNumber;
  }
  const std::string significant = WithoutLeadingZeros(digits);
  const std::string limit = negative ? LargestNegative : LargestPositive;
  if (significant.size() > limit.size() ||
      (significant.size() == limit.size() && significant > limit)) {
    return NoNumber;
  }
  int64_t magnitude = significant.empty() ? 0 : std::stoll(significant);
  return Number{true, static_cast<int32_t>(negative ? -magnitude : magnitude)};
}

void CheckNumber(const std::string& text) {
  bool ok = true;
  int32_t value = TextToInteger(text, &ok);
  Number expected = ExpectedNumber(text);
  Require(ok == expected.ok, "TextToInteger accepts exactly the numbers of the syntax");
  Require(value == expected.value, "TextToInteger gives the number's value, or 0 when it fails");
  if (ok) {
    Require(IntegerToText(value) == std::to_string(value), "IntegerToText writes plain decimal");
    bool again = false;
    Require(TextToInteger(IntegerToText(value), &again) == value && again,
            "IntegerToText reads back as the same value");
  }
}

// The tokens as the real reader gives them, in the same shape as ExpectedTokens, checked on
// the way: the reader never moves back or past the end, and an empty token comes only at the end.
std::vector<std::string> ActualTokens(const char* text, size_t length) {
  std::vector<std::string> tokens;
  const char* position = text;
  for (;;) {
    const char* before = position;
    std::string token = ReadCommandToken(&position);
    Require(position >= before && position <= text + length, "the reader stays inside the text");
    if (token.empty()) {
      Require(position == text + length, "an empty token comes only at the end of the text");
      if (tokens.empty()) {
        tokens.push_back(token);
      }
      return tokens;
    }
    tokens.push_back(token);
  }
}

bool BoxSays(const char* mark) {
  return fake::Double.boxes.size() == 1 &&
         fake::Double.boxes[0].text.find(mark) != std::string::npos;
}

void CheckArgumentCheck(const char* text, const std::vector<std::string>& tokens) {
  fake::ResetDouble();
  fake::Double.commandLine = text;
  TargetWidth = DefaultTarget;
  bool accepted = CheckArguments();
  size_t count = tokens.size() - 1;
  if (count == 0) {
    Require(accepted && fake::Double.boxes.empty() && TargetWidth == DefaultTarget,
            "no argument keeps the default width without a message");
  } else if (count > 1) {
    Require(!accepted && BoxSays(TooManyMark), "two or more arguments are refused as too many");
  } else {
    Number number = ExpectedNumber(tokens[1]);
    if (!number.ok) {
      Require(!accepted && BoxSays(FormatMark), "an argument that is no number is refused");
    } else if (number.value < 1 || number.value > WidestTarget) {
      Require(!accepted && BoxSays(RangeMark), "a width outside 1..32767 is refused");
    } else {
      Require(accepted && fake::Double.boxes.empty() && TargetWidth == number.value,
              "a valid width becomes the target width without a message");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<char[]> text(new char[size + 1]);
  std::memcpy(text.get(), data, size);
  text[size] = '\0';
  const size_t length = std::strlen(text.get());  // the text ends at its first NUL

  const std::vector<std::string> expected = ExpectedTokens(text.get());
  const std::vector<std::string> actual = ActualTokens(text.get(), length);
  Require(actual == expected, "the reader cuts the command line into the expected tokens");

  const int count = CountArguments(text.get());
  Require(count == static_cast<int>(expected.size()) - 1,
          "CountArguments counts the tokens after the name");
  // The first few arguments, the last one and the one past it (all of them would take time
  // that grows with the square of their number).
  std::vector<int> picked = {count, count + 1};
  for (int n = 1; n <= count && n <= 8; ++n) {
    picked.push_back(n);
  }
  for (int n : picked) {
    if (n < 1) {
      continue;
    }
    const std::string argument = ArgumentAt(text.get(), n);
    Require(argument == (n <= count ? expected[static_cast<size_t>(n)] : std::string()),
            "ArgumentAt gives the nth token after the name, empty past the last");
  }

  for (const std::string& token : expected) {
    CheckNumber(token);
  }
  CheckNumber(std::string(reinterpret_cast<const char*>(data), size));

  CheckArgumentCheck(text.get(), expected);
  return 0;
}
