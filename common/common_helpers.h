// Small operations both programs share: the error box, the file-existence test and the
// attribute pair.
#pragma once

#include <cstdint>

// The caption of the running program's error boxes; each program sets it once at its start.
extern const char* ProgramCaption;

// Sets the program caption and makes exhausted memory end the run through the I/O failure
// report. Each program calls it first thing.
void BeginProgram(const char* caption);

// Shows message in a modal box with the stop icon, brought to the foreground, captioned with
// ProgramCaption. Returns when the user has closed it.
void ShowErrorBox(const char* message);

// True exactly when the directory search finds an entry of that name that is not a directory,
// whatever its last-write time.
bool FileIsPresent(const char* name);

// The platform's attribute bits for name, unchanged; INVALID_ATTRIBUTES_VALUE when the query
// fails.
uint32_t GetAttributes(const char* name);

// Sets the attributes of name. Returns 0 on success, otherwise the platform's error code.
uint32_t SetAttributes(const char* name, uint32_t attributes);
