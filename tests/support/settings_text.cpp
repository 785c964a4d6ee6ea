#include "settings_text.h"

namespace support {

std::string FillerLine(int n, const std::string& value) {
  return "K" + std::to_string(n) + "=" + (value.empty() ? std::to_string(n) : value);
}

std::string FillerLines(int count, const std::string& lineEnd, const std::string& value) {
  std::string lines;
  for (int n = 0; n < count; ++n) {
    lines += FillerLine(n, value) + lineEnd;
  }
  return lines;
}

}  // namespace support
