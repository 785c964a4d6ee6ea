#include "width_locator.h"

#include <cstring>
#include <string>

#include "common_helpers.h"
#include "settings_lines.h"
#include "settings_names.h"

namespace {

const char HeaderMissingMessage[] = "\"[DESKTOP]\" が見つかりませんでした。\r\n処理を中止します。";
const char HeaderRepeatedMessage[] = "\"[DESKTOP]\" が、複数見つかりました。\r\n処理を中止します。";
const char EntryMissingMessage[] = "\"LISTWIDTH=\" が見つかりませんでした。\r\n処理を中止します。";
const char EntryRepeatedMessage[] = "\"LISTWIDTH=\" が、複数見つかりました。\r\n処理を中止します。";

bool IsHeaderLine(const std::string& line) { return line == SectionHeaderText; }

bool HoldsKey(const std::string& line) {
  return line.find(WidthKeyText, 0, std::strlen(WidthKeyText)) != std::string::npos;
}

// Whether the section scan goes on after line j: it stops at the first empty line, which is
// itself looked at, and at the last stored line.
bool ScanGoesOnAfter(int32_t j) {
  return !SettingsLines[static_cast<size_t>(j)].empty() && j < LineCount - 1;
}

// Counts the lines from first on that match, and sets *firstMatch to the first of them (-1 when
// none does). The scan of a section ends where ScanGoesOnAfter says; any other scan runs to the
// last stored line.
int32_t CountMatchingLines(int32_t first, bool (*matches)(const std::string&), bool sectionScan,
                           int32_t* firstMatch) {
  int32_t count = 0;
  *firstMatch = -1;
  for (int32_t i = first; i < LineCount; ++i) {
    if (matches(SettingsLines[static_cast<size_t>(i)])) {
      ++count;
      if (*firstMatch < 0) {
        *firstMatch = i;
      }
    }
    if (sectionScan && !ScanGoesOnAfter(i)) {
      break;
    }
  }
  return count;
}

}  // namespace

bool LocateWidthLine() {
  int32_t header = -1;
  int32_t headerCount = CountMatchingLines(0, IsHeaderLine, false, &header);
  if (headerCount == 0) {
    ShowErrorBox(HeaderMissingMessage);
    return false;
  }
  if (headerCount > 1) {
    ShowErrorBox(HeaderRepeatedMessage);
    return false;
  }

  WidthLineIndex = -1;
  int32_t entry = -1;
  // A following section header does not end the scan: only an empty line or the end does.
  int32_t entryCount = CountMatchingLines(header + 1, HoldsKey, true, &entry);
  if (entryCount == 0) {
    ShowErrorBox(EntryMissingMessage);
    return false;
  }
  if (entryCount > 1) {
    ShowErrorBox(EntryRepeatedMessage);
    return false;
  }
  WidthLineIndex = entry;
  return true;
}
