// The settings line store: the settings file's lines in memory, as code page 932 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The store holds at most this many lines; a longer file loads its first MaxSettingsLines.
constexpr int32_t MaxSettingsLines = 1000;

// The lines, each without its line end. A line holds any byte but CR and Ctrl-Z.
extern std::vector<std::string> SettingsLines;

// How many lines the store holds: 1..MaxSettingsLines after a load.
extern int32_t LineCount;

// The 0-based index of the located LISTWIDTH= line; -1 while none is located.
extern int32_t WidthLineIndex;

// The bytes the store cannot hold: everything from where the load stopped (after the
// MaxSettingsLines-th line, or at a Ctrl-Z that is not the file's last byte) to the physical end
// of the file. They are written back unchanged after the lines. Empty unless
// LoadTrailingBytes ran.
extern std::string TrailingBytes;

// Reads the settings file, open for reading at its start, into the store and sets LineCount.
// Every step is followed by the file operation test. Returns true when a line was stored,
// which is always the case: even an empty file is one empty line.
bool LoadSettingsLines();

// Right after LoadSettingsLines, reads what the store could not hold into TrailingBytes, so
// that a write-back loses nothing. A lone Ctrl-Z as the file's very last byte only marks the end
// of the text and is dropped.
void LoadTrailingBytes();

// Writes every stored line, each followed by CR LF, then TrailingBytes, to the settings file
// open for writing. Every line is followed by the file operation test. Returns true when
// LineCount lines were written, which is always the case when it returns.
bool WriteSettingsLines();

// The whole read of a run: opens the named file for reading, loads it into the store and closes
// it, each step followed by the file operation test. With keepTrailingBytes, also keeps what the
// store cannot hold, for a write-back that loses nothing. Returns what LoadSettingsLines returned.
bool ReadSettingsFile(const char* name, bool keepTrailingBytes);

// The whole write of a run: opens the named file for writing (created afresh), writes the store
// back and closes it, each step followed by the file operation test. Returns what
// WriteSettingsLines returned.
bool WriteSettingsFile(const char* name);

// Empties the store and frees its lines.
void ReleaseSettingsLines();
