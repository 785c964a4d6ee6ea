// The fixed names through which the programs meet the host and each other.
#pragma once

// The host's settings file, a bare name: the programs are started in the host's folder.
constexpr const char* SettingsFileName = "Qtv.ini";

// The repair tool's whole-file copy of the settings file, made before every repair.
constexpr const char* BackupFileName = "Qtv.ini_widthBack";

// The class of the host's main window; while one exists the host is running.
constexpr const char* HostWindowClass = "TOstrelForm";
