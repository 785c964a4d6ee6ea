#include "test_support.h"

#include <cstdio>


uint32_t LoadThroughStore(const char* name) {
  return fake::RunProgram([name] { ReadSettingsFile(name, false); });
}

uint32_t WriteThroughStore(const char* name) {
  return fake::RunProgram([name] { WriteSettingsFile(name); });
}

std::string Visible(const std::string& bytes) {
  std::string shown;
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || byte == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    } else {
      shown += static_cast<char>(byte);
    }
  }
  return shown;
}

std::vector<std::string> ShownBoxes() {
  std::vector<std::string> shown;
  for (const fake::Box& box : fake::Double.boxes) {
    char style[16];
    std::snprintf(style, sizeof style, "%#x", box.style);
    shown.push_back(box.caption + "|" + box.text + "|" + style);
  }
  return shown;
}
