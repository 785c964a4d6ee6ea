// Fuzz target: any bytes as the settings file. They are loaded into the store through the real
// library on the platform test double, the width line is located, and the store is written back
// and read again. Every property below is checked on each input; a broken one stops the run with
// a trap, and libFuzzer keeps the input that broke it.
//
// Each input is read twice: once with whole 128-byte reads, once with reads cut short to a
// length taken from the input's first byte, so that lines, line ends and Ctrl-Z bytes fall on
// every position of a refill.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform_double.h"
#include "runtime_error.h"
#include "settings_file.h"
#include "settings_lines.h"
#include "settings_names.h"
#include "width_locator.h"

namespace {

using Lines = std::vector<std::string>;

// The store's capacity, stated here again so that a change of the library's constant shows.
constexpr size_t StoreCapacity = 1000;
constexpr uint32_t PlatformBlock = 128;
constexpr uint32_t WholeReads = 0xFFFFFFFF;

const char CtrlZ = '\x1A';
const char LineEnd[] = "\r\n";
const char HeaderText[] = "[DESKTOP]";
const char KeyText[] = "LISTWIDTH=";
const char RepairedLine[] = "LISTWIDTH=450";
// The part that the two "found more than once" messages share, and the others lack.
const char RepeatedMark[] = "複数";

// What a load must give, worked out on the whole file at once, without a buffer.
struct Expected {
  Lines lines;
  size_t consumed = 0;  // bytes the lines took, their line ends included
  std::string carried;  // what the write-back must add after the lines
};

Expected ExpectedLoad(const std::string& bytes) {
  Expected expected;
  size_t at = 0;
  bool endOfText = false;
  while (!endOfText && expected.lines.size() < StoreCapacity) {
    size_t stop = bytes.find_first_of("\r\x1A", at);
    if (stop == std::string::npos) {
      stop = bytes.size();
    }
    expected.lines.push_back(bytes.substr(at, stop - at));
    at = stop;
    if (at < bytes.size() && bytes[at] == '\r') {
      ++at;
      if (at < bytes.size() && bytes[at] == '\n') {
        ++at;
      }
    }
    endOfText = at == bytes.size() || bytes[at] == CtrlZ;
  }
  expected.consumed = at;
  expected.carried = bytes.substr(at);
  // A Ctrl-Z as the very last byte only marks the end of the text.
  if (expected.carried.size() == 1 && expected.carried[0] == CtrlZ) {
    expected.carried.clear();
  }
  return expected;
}

// The four ways the locator stops, and success.
enum class Outcome { Found, HeaderMissing, HeaderRepeated, EntryMissing, EntryRepeated };

Outcome ExpectedLocate(const Lines& lines, int32_t* index) {
  std::vector<size_t> headers;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == HeaderText) {
      headers.push_back(i);
    }
  }
  if (headers.empty()) {
    return Outcome::HeaderMissing;
  }
  if (headers.size() > 1) {
    return Outcome::HeaderRepeated;
  }
  std::vector<size_t> entries;
  for (size_t j = headers[0] + 1; j < lines.size(); ++j) {
    if (lines[j].find(KeyText) != std::string::npos) {
      entries.push_back(j);
    }
    if (lines[j].empty()) {
      break;
    }
  }
  if (entries.empty()) {
    return Outcome::EntryMissing;
  }
  if (entries.size() > 1) {
    return Outcome::EntryRepeated;
  }
  *index = static_cast<int32_t>(entries[0]);
  return Outcome::Found;
}

// Whether the write-back of the unchanged store must be the file byte for byte: no Ctrl-Z, every
// CR followed by an LF, and every stored line ended by its CR LF, which the last one is when the
// file ends in CR LF (an empty file is one empty line, written back as CR LF). Lines beyond the
// store's capacity are carried over as they stand, whatever their ends.
bool ComesBackWhole(const std::string& bytes) {
  if (bytes.find(CtrlZ) != std::string::npos) {
    return false;
  }
  size_t lineEnds = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r') {
      if (i + 1 == bytes.size() || bytes[i + 1] != '\n') {
        return false;
      }
      ++lineEnds;
    }
  }
  bool lastLineEnded = bytes.size() >= 2 && bytes.compare(bytes.size() - 2, 2, LineEnd) == 0;
  return lastLineEnded || lineEnds >= StoreCapacity;
}

std::string Joined(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += LineEnd;
  }
  return text;
}

void ResetEverything() {
  fake::ResetDouble();
  SettingsFile = TextFile();
  ReleaseSettingsLines();
}

// Loads the double's settings file as the repair tool does, trailing bytes included.
void Load() {
  SettingsFile = TextFile();
  ReleaseSettingsLines();
  fake::Double.readSizes.clear();
  bool loaded = false;
  uint32_t exitCode = fake::RunProgram([&loaded] {
    TestFileOperation(OpenSettingsForReading(SettingsFileName));
    loaded = LoadSettingsLines();
    LoadTrailingBytes();
    TestFileOperation(CloseSettingsFile());
  });
  Require(exitCode == 0, "a load on a working platform ends without a runtime error");
  Require(loaded, "a load always stores a line");
  for (uint32_t size : fake::Double.readSizes) {
    Require(size <= PlatformBlock, "reads ask for at most 128 bytes");
  }
}

// Writes the store back over the double's settings file and returns the file's new bytes.
std::string Save() {
  fake::Double.writeSizes.clear();
  bool written = false;
  uint32_t exitCode = fake::RunProgram([&written] {
    TestFileOperation(OpenSettingsForWriting(SettingsFileName));
    written = WriteSettingsLines();
    TestFileOperation(CloseSettingsFile());
  });
  Require(exitCode == 0, "a write-back on a working platform ends without a runtime error");
  Require(written, "the write-back reports every line written");
  const std::vector<uint32_t>& sizes = fake::Double.writeSizes;
  Require(!sizes.empty(), "the write-back writes something");
  for (size_t i = 0; i + 1 < sizes.size(); ++i) {
    Require(sizes[i] == PlatformBlock, "writes go out in whole 128-byte blocks");
  }
  Require(sizes.back() >= 1 && sizes.back() <= PlatformBlock, "the last block holds 1..128 bytes");
  auto file = fake::Double.files.find(SettingsFileName);
  Require(file != fake::Double.files.end(), "the written file exists");
  return file->second.bytes;
}

// Runs the locator on the store and checks it against the lines. Returns whether it found the
// entry.
bool CheckLocator(const Lines& lines) {
  int32_t expectedIndex = -1;
  Outcome expected = ExpectedLocate(lines, &expectedIndex);
  fake::Double.boxes.clear();
  bool found = LocateWidthLine();
  Require(found == (expected == Outcome::Found), "the locator succeeds exactly when it should");
  if (found) {
    Require(WidthLineIndex == expectedIndex, "the locator names the one entry line");
    Require(fake::Double.boxes.empty(), "a successful locate shows nothing");
    return true;
  }
  Require(fake::Double.boxes.size() == 1, "a refusing locate shows exactly one box");
  const std::string& text = fake::Double.boxes[0].text;
  bool aboutHeader = expected == Outcome::HeaderMissing || expected == Outcome::HeaderRepeated;
  bool repeated = expected == Outcome::HeaderRepeated || expected == Outcome::EntryRepeated;
  const std::string quoted = std::string("\"") + (aboutHeader ? HeaderText : KeyText) + "\"";
  Require(text.compare(0, quoted.size(), quoted) == 0, "the box names the header or the key");
  Require((text.find(RepeatedMark) != std::string::npos) == repeated,
          "the box tells missing from repeated");
  return false;
}

void CheckOneReading(const std::string& input, const Expected& expected, uint32_t readLimit) {
  ResetEverything();
  fake::PutFile(SettingsFileName, input);
  fake::Double.readChunkLimit = readLimit;

  Load();
  Require(SettingsLines == expected.lines, "the store holds the file's lines");
  Require(LineCount == static_cast<int32_t>(expected.lines.size()), "LineCount counts the store");
  Require(TrailingBytes == expected.carried, "the bytes the store cannot hold are kept aside");
  Require(input.compare(expected.consumed, std::string::npos, TrailingBytes) == 0 ||
              (TrailingBytes.empty() && input.substr(expected.consumed) == "\x1A"),
          "the kept bytes are the file from where the store stopped, but a lone last Ctrl-Z");

  bool located = CheckLocator(SettingsLines);
  int32_t widthLine = WidthLineIndex;

  // The unchanged store written back: its lines each with CR LF, then the kept bytes.
  const Lines stored = SettingsLines;
  const std::string kept = TrailingBytes;
  const std::string written = Save();
  Require(written == Joined(stored) + kept,
          "the write-back is the lines with CR LF, then the rest");
  if (ComesBackWhole(input)) {
    Require(written == input, "a file of CR LF lines comes back byte for byte");
  }

  // Read again, the write-back gives the same store, and writing that gives the same bytes.
  Load();
  Require(SettingsLines == stored, "the write-back reads back as the same lines");
  Require(TrailingBytes == kept, "the write-back reads back with the same kept bytes");
  Require(Save() == written, "a second write-back changes nothing");

  // The repair's change: only the entry line differs afterwards, and it is found again.
  if (located) {
    Lines repaired = stored;
    repaired[static_cast<size_t>(widthLine)] = RepairedLine;
    SettingsLines = repaired;
    const std::string fixed = Save();
    Require(fixed == Joined(repaired) + kept, "the repaired store is written as it stands");
    Load();
    Require(SettingsLines == repaired, "the repaired file reads back as the repaired store");
    Require(TrailingBytes == kept, "the repair keeps the bytes the store cannot hold");
    fake::Double.boxes.clear();
    Require(LocateWidthLine() && WidthLineIndex == widthLine,
            "the repaired file has its entry on the same line");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const Expected expected = ExpectedLoad(input);
  CheckOneReading(input, expected, WholeReads);
  uint32_t shortReads = size == 0 ? 1 : 1 + data[0] % PlatformBlock;
  CheckOneReading(input, expected, shortReads);
  return 0;
}
