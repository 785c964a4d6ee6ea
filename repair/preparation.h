// Getting the settings file ready to be rewritten, and the backup made before every repair.
#pragma once

// Makes sure the settings file is present and has none of the read-only, hidden and system
// attributes, clearing them (to FILE_ATTRIBUTE_NORMAL) when any is set. Returns false after one
// error box when the file is missing or the attributes cannot be changed.
bool PrepareSettingsFile();

// Copies the settings file over the backup and flushes the copy to disk, so that the backup is
// safe before the settings file is opened for writing. When the copy or its flush fails, asks
// whether to go on without it; returns false unless the user answers Yes.
bool MakeBackup();
