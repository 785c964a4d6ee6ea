#include "arguments.h"

#include "common_helpers.h"
#include "platform.h"

int32_t TargetWidth = DefaultWidth;

namespace {

const char TooManyMessage[] = "引数の数が多すぎます。";
const char FormatMessage[] =
    "引数の形式が正しくありません。\r\n「～\\Panefix.exe 半角の数字」　と指定してください。\r\n\r\n"
    "例）　C:\\test\\Panefix.exe 450";
const char RangeMessage[] = "引数の数値が範囲外です。";

constexpr unsigned char Blank = 0x20;
constexpr char Quote = '"';

constexpr int HexDigitsAtMost = 8;
constexpr uint64_t LargestMagnitude = 2147483648u;  // of a negative 32-bit value

// Bytes are compared as unsigned values, so every byte from 0x80 up belongs to a token.
bool IsBlank(char c) {
  auto byte = static_cast<unsigned char>(c);
  return byte != 0 && byte <= Blank;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads a decimal number filling text from start: an optional sign and at least one digit.
bool ReadDecimal(const std::string& text, size_t start, int32_t* value) {
  bool negative = false;
  if (start < text.size() && (text[start] == '-' || text[start] == '+')) {
    negative = text[start] == '-';
    ++start;
  }
  if (start == text.size()) {
    return false;
  }
  uint64_t magnitude = 0;
  for (size_t i = start; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') {
      return false;
    }
    magnitude = magnitude * 10 + static_cast<uint64_t>(text[i] - '0');
    if (magnitude > LargestMagnitude) {
      return false;
    }
  }
  if (!negative && magnitude == LargestMagnitude) {
    return false;
  }
  *value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                    : static_cast<int32_t>(magnitude);
  return true;
}

// Reads hexadecimal digits filling text from start: at least one, at most eight significant.
bool ReadHexadecimal(const std::string& text, size_t start, int32_t* value) {
  if (start == text.size()) {
    return false;
  }
  uint32_t pattern = 0;
  int significant = 0;
  for (size_t i = start; i < text.size(); ++i) {
    int digit = HexDigitValue(text[i]);
    if (digit < 0) {
      return false;
    }
    if (significant > 0 || digit != 0) {
      if (++significant > HexDigitsAtMost) {
        return false;
      }
    }
    pattern = (pattern << 4) | static_cast<uint32_t>(digit);
  }
  *value = static_cast<int32_t>(pattern);
  return true;
}

// Length of the hexadecimal prefix at start, 0 when there is none.
size_t HexPrefixLength(const std::string& text, size_t start) {
  char first = start < text.size() ? text[start] : '\0';
  if (first == '$' || first == 'x' || first == 'X') {
    return 1;
  }
  char second = start + 1 < text.size() ? text[start + 1] : '\0';
  if (first == '0' && (second == 'x' || second == 'X')) {
    return 2;
  }
  return 0;
}

}  // namespace

std::string ReadCommandToken(const char** position) {
  const char* p = *position;
  for (;;) {
    while (IsBlank(*p)) {
      ++p;
    }
    if (p[0] == Quote && p[1] == Quote) {
      p += 2;
      continue;
    }
    break;
  }
  std::string token;
  while (*p != '\0' && !IsBlank(*p) && token.size() < MaxTokenBytes) {
    if (*p == Quote) {
      // A quoted run is held whole, however long it makes the token.
      ++p;
      while (*p != '\0' && *p != Quote) {
        token += *p++;
      }
      if (*p == Quote) {
        ++p;
      }
    } else {
      token += *p++;
    }
  }
  *position = p;
  return token;
}

int CountArguments(const char* commandLine) {
  const char* position = commandLine;
  ReadCommandToken(&position);
  int count = 0;
  while (!ReadCommandToken(&position).empty()) {
    ++count;
  }
  return count;
}

std::string ArgumentAt(const char* commandLine, int n) {
  const char* position = commandLine;
  ReadCommandToken(&position);
  std::string token;
  for (int i = 0; i < n; ++i) {
    token = ReadCommandToken(&position);
  }
  return token;
}

int32_t TextToInteger(const std::string& text, bool* ok) {
  size_t start = 0;
  while (start < text.size() && text[start] == ' ') {
    ++start;
  }
  int32_t value = 0;
  size_t prefix = HexPrefixLength(text, start);
  if (prefix > 0) {
    *ok = ReadHexadecimal(text, start + prefix, &value);
  } else {
    *ok = ReadDecimal(text, start, &value);
  }
  return *ok ? value : 0;
}

std::string IntegerToText(int32_t value) {
  int64_t magnitude = value;
  bool negative = magnitude < 0;
  if (negative) {
    magnitude = -magnitude;
  }
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
    magnitude /= 10;
  } while (magnitude > 0);
  return negative ? "-" + digits : digits;
}

bool CheckArguments() {
  const char* commandLine = OsGetCommandLine();
  int count = CountArguments(commandLine);
  if (count == 0) {
    return true;
  }
  if (count > 1) {
    ShowErrorBox(TooManyMessage);
    return false;
  }
  bool ok = false;
  int32_t width = TextToInteger(ArgumentAt(commandLine, 1), &ok);
  if (!ok) {
    ShowErrorBox(FormatMessage);
    return false;
  }
  if (width < MinWidth || width > MaxWidth) {
    ShowErrorBox(RangeMessage);
    return false;
  }
  TargetWidth = width;
  return true;
}
