#include "test_support.h"

#include <cstdio>
#include <new>

#include "arguments.h"
#include "common_helpers.h"
#include "viewer_run.h"

namespace {
constexpr uint32_t ErrorBoxStyle = 0x10010;
}

void ResetProgramState() {
  fake::ResetDouble();
  fake::FailAllocation(0);
  std::set_new_handler(nullptr);
  SettingsFile = TextFile();
  ReleaseSettingsLines();
  TargetWidth = DefaultWidth;
  ProgramCaption = "";
  PaneWidthValue.clear();
}

uint32_t LoadThroughStore(const char* name) {
  return fake::RunProgram([name] { ReadSettingsFile(name, false); });
}

uint32_t WriteThroughStore(const char* name) {
  return fake::RunProgram([name] { WriteSettingsFile(name); });
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

std::string BoxLine(const std::string& caption, const std::string& text, uint32_t style) {
  char shownStyle[16];
  std::snprintf(shownStyle, sizeof shownStyle, "%#x", style);
  return texts::ProgramBytes(caption) + "|" + texts::ProgramBytes(text) + "|" + shownStyle;
}

std::string ErrorBoxLine(const std::string& caption, const std::string& text) {
  return BoxLine(caption, text, ErrorBoxStyle);
}
