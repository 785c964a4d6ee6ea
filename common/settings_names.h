// The fixed names through which the programs meet the host and each other. The texts the
// programs show spell them again where they name them to the user.
#pragma once

// The host's settings file, a bare name: the programs are started in the host's folder.
constexpr const char* SettingsFileName = "Qtv.ini";

// The repair tool's whole-file copy of the settings file, made before every repair.
constexpr const char* BackupFileName = "Qtv.ini_widthBack";

// The header line of the settings file's section that holds the pane's width.
constexpr char SectionHeaderText[] = "[DESKTOP]";

// The key of the pane-width line of the settings file's [DESKTOP] section, with its '='.
constexpr char WidthKeyText[] = "LISTWIDTH=";

// The class of the host's main window; while one exists the host is running.
constexpr const char* HostWindowClass = "TOstrelForm";

// The host's program file: the POSIX layer takes a process running it for the host's window.
constexpr const char* HostProgramName = "Qtv.exe";
