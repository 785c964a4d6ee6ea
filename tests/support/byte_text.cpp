#include "byte_text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace support {

namespace {

// The whole text converted with the system's converter from one character set to another.
std::string Convert(const std::string& text, const char* from, const char* to) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1))) {
    ADD_FAILURE() << "the system has no converter from " << from << " to " << to;
    return text;
  }
  std::string input = text;
  std::string output;
  char* in = input.data();
  size_t inLeft = input.size();
  while (inLeft > 0) {
    char chunk[256];
    char* out = chunk;
    size_t outLeft = sizeof chunk;
    size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
    output.append(chunk, sizeof chunk - outLeft);
    if (result == static_cast<size_t>(-1) && errno != E2BIG) {
      ADD_FAILURE() << "not convertible from " << from << " to " << to << ": " << Escaped(text);
      break;
    }
  }
  iconv_close(converter);
  return output;
}

}  // namespace

std::string Escaped(const std::string& bytes) {
  std::string text;
  for (char signedByte : bytes) {
    auto byte = static_cast<unsigned char>(signedByte);
    if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
      text += static_cast<char>(byte);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      text += hex;
    }
  }
  return text;
}

std::string NameOf(const std::string& bytes) {
  constexpr size_t LongestName = 48;
  constexpr size_t CutAt = 40;
  if (bytes.empty()) {
    return "Empty";
  }
  std::string name;
  for (char signedByte : bytes) {
    auto byte = static_cast<unsigned char>(signedByte);
    if ((byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
        (byte >= 'a' && byte <= 'z')) {
      name += static_cast<char>(byte);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "_%02X", byte);
      name += hex;
    }
  }
  if (name.size() > LongestName) {
    name = name.substr(0, CutAt) + "_" + std::to_string(bytes.size());
  }
  return name;
}

std::string TitleName(const std::string& description) {
  std::string name;
  bool wordStart = true;
  for (char c : description) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    bool digit = c >= '0' && c <= '9';
    if (!letter && !digit) {
      wordStart = true;
      continue;
    }
    name += wordStart && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    wordStart = false;
  }
  return name.empty() ? "Unnamed" : name;
}

std::string Cp932(const std::string& utf8) { return Convert(utf8, "UTF-8", "CP932"); }

std::string Utf8FromCp932(const std::string& cp932) { return Convert(cp932, "CP932", "UTF-8"); }

}  // namespace support
