// box_reader: starts a program and plays the user in front of its message boxes.
//
//   box_reader.exe [--timeout MS] [--pictures PREFIX] FOLDER COMMAND-LINE-HEX [ACTION...]
//
// FOLDER becomes the program's current directory. COMMAND-LINE-HEX is the program's command line
// as hexadecimal bytes (code page 932), passed unchanged to CreateProcessA. Each ACTION answers
// one expected message box, in order: ok, yes, no, cancel (the button's WM_COMMAND) or enter
// (the Enter key sent to the box's focus window, which takes the default button).
//
// For every message box of the program (a visible top-level "#32770" window of its process) the
// report on stdout names its caption, text, icon, buttons, default button, whether it is the
// foreground window and whether it is kept on top. Boxes beyond the listed actions are reported as
// unexpected and answered with Enter. Last comes the program's exit code. The report is UTF-8,
// one "key=value" per line; "box=N" opens the record of the N-th box. In values, backslash, CR,
// LF and other control characters are escaped as \\, \r, \n and \xHH.
//
// With --pictures, each box is also saved, before it is answered, as it stands on the screen with
// its frame and caption: a 24-bit BMP named PREFIX, the box's number and ".bmp", reported as
// "picture=PATH".
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The longest wait for anything the program does: a box to appear, paint its icon, answer a
// query or close, and the program to end. Only a program that hangs reaches it, never a slow
// machine, so there is one limit for all, and it is generous.
constexpr DWORD DefaultTimeoutMs = 60000;
constexpr DWORD PollMs = 20;
constexpr int MaxUnexpectedBoxes = 3;
constexpr int BoxTextId = 0xFFFF;         // the static control that holds a message box's text
constexpr DWORD PictureSettleMs = 100;    // a box is painted once two pictures this far apart agree
constexpr DWORD PictureTimeoutMs = 3000;  // the longest wait for that

struct ButtonName {
  int id;
  const char* name;
};
constexpr ButtonName ButtonNames[] = {
    {IDOK, "ok"},       {IDCANCEL, "cancel"},     {IDABORT, "abort"},
    {IDRETRY, "retry"}, {IDIGNORE, "ignore"},     {IDYES, "yes"},
    {IDNO, "no"},       {IDTRYAGAIN, "tryagain"}, {IDCONTINUE, "continue"}};

DWORD TimeoutMs = DefaultTimeoutMs;
std::string PicturePrefix;  // empty: no pictures

void Print(const std::string& key, const std::string& value) {
  std::fputs((key + "=" + value + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (byte < 0x20 || byte == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

std::string WideToUtf8(const std::wstring& wide) {
  if (wide.empty()) {
    return std::string();
  }
  int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                 nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], size,
                      nullptr, nullptr);
  return out;
}

std::string AnsiToUtf8(const std::string& ansi) {
  if (ansi.empty()) {
    return std::string();
  }
  int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], size);
  return WideToUtf8(wide);
}

bool DecodeHex(const char* hex, std::string* bytes) {
  size_t length = std::strlen(hex);
  if (length % 2 != 0) {
    return false;
  }
  for (size_t i = 0; i < length; i += 2) {
    char pair[3] = {hex[i], hex[i + 1], '\0'};
    char* end = nullptr;
    unsigned long value = std::strtoul(pair, &end, 16);
    if (end != pair + 2) {
      return false;
    }
    bytes->push_back(static_cast<char>(value));
  }
  return true;
}

// The text of a window of another process, asked for with WM_GETTEXT so that it also works for
// controls.
std::string WindowText(HWND window) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, TimeoutMs, &length)) {
    return std::string();
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR copied = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, static_cast<WPARAM>(length + 1),
                      reinterpret_cast<LPARAM>(&text[0]), SMTO_NORMAL, TimeoutMs, &copied);
  text.resize(copied);
  return WideToUtf8(text);
}

bool HasClass(HWND window, const char* className) {
  char name[64] = {};
  return GetClassNameA(window, name, sizeof name) > 0 && std::strcmp(name, className) == 0;
}

struct BoxSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK FindBoxOfProcess(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  if (processId == search->processId && IsWindowVisible(window) && HasClass(window, "#32770")) {
    search->found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindBox(DWORD processId) {
  BoxSearch search = {processId, nullptr};
  EnumWindows(FindBoxOfProcess, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

enum class Wait { Box, Ended, TimedOut };

// Waits for a visible message box of the process. The process's end counts only once no box of
// it is left.
Wait WaitForBox(const PROCESS_INFORMATION& process, HWND* box) {
  DWORD start = GetTickCount();
  for (;;) {
    *box = FindBox(process.dwProcessId);
    if (*box != nullptr) {
      return Wait::Box;
    }
    if (WaitForSingleObject(process.hProcess, PollMs) == WAIT_OBJECT_0) {
      *box = FindBox(process.dwProcessId);
      return *box != nullptr ? Wait::Box : Wait::Ended;
    }
    if (GetTickCount() - start > TimeoutMs) {
      return Wait::TimedOut;
    }
  }
}

BOOL CALLBACK FindIconControl(HWND child, LPARAM param) {
  auto style = static_cast<DWORD>(GetWindowLongW(child, GWL_STYLE));
  if (HasClass(child, "Static") && (style & SS_TYPEMASK) == SS_ICON) {
    *reinterpret_cast<HWND*>(param) = child;
    return FALSE;
  }
  return TRUE;
}

struct Colours {
  int red = 0;
  int yellow = 0;
  int blue = 0;
};

// The pixels of a rectangle of the screen as it stands, top row first, each 0x00RRGGBB. Returns
// false for an empty rectangle or a failed copy.
bool CaptureScreen(const RECT& rect, std::vector<uint32_t>* pixels) {
  int width = rect.right - rect.left;
  int height = rect.bottom - rect.top;
  pixels->clear();
  if (width <= 0 || height <= 0) {
    return false;
  }
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool copied = false;
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != 0;
    GdiFlush();
    const auto* first = static_cast<const uint32_t*>(bits);
    if (copied) {
      pixels->assign(first, first + static_cast<size_t>(width) * static_cast<size_t>(height));
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return copied;
}

// Counts the strongly coloured pixels of the control as it stands on the screen. The icon handle
// of another process cannot be read back, but its picture can: the stop sign is red, the warning
// sign yellow, the information and question signs blue.
Colours CountScreenColours(HWND control) {
  Colours colours;
  RECT rect;
  std::vector<uint32_t> pixels;
  if (!GetWindowRect(control, &rect) || !CaptureScreen(rect, &pixels)) {
    return colours;
  }
  for (uint32_t pixel : pixels) {
    uint32_t r = (pixel >> 16) & 0xFF;
    uint32_t g = (pixel >> 8) & 0xFF;
    uint32_t b = pixel & 0xFF;
    if (r >= 160 && g <= 100 && b <= 100) {
      ++colours.red;
    } else if (r >= 180 && g >= 150 && b <= 110) {
      ++colours.yellow;
    } else if (b >= 150 && r <= 110) {
      ++colours.blue;
    }
  }
  return colours;
}

constexpr int MinSignPixels = 20;

std::string IconOf(HWND box) {
  HWND icon = nullptr;
  EnumChildWindows(box, FindIconControl, reinterpret_cast<LPARAM>(&icon));
  DWORD_PTR iconHandle = 0;
  if (icon == nullptr || !IsWindowVisible(icon) ||
      !SendMessageTimeoutW(icon, STM_GETICON, 0, 0, SMTO_NORMAL, TimeoutMs, &iconHandle) ||
      iconHandle == 0) {
    return "none";
  }
  // The box may not have painted itself yet.
  DWORD start = GetTickCount();
  for (;;) {
    Colours c = CountScreenColours(icon);
    if (c.red >= MinSignPixels && c.red > c.yellow) {
      return "stop";
    }
    if (c.yellow >= MinSignPixels && c.yellow > c.red) {
      return "exclamation";
    }
    if (c.blue >= MinSignPixels) {
      return "other";
    }
    if (GetTickCount() - start > TimeoutMs) {
      return "blank";
    }
    Sleep(PollMs);
  }
}

const char* ButtonNameOf(int id) {
  for (const ButtonName& button : ButtonNames) {
    if (button.id == id) {
      return button.name;
    }
  }
  return "unknown";
}

int ButtonIdOf(const std::string& name) {
  for (const ButtonName& button : ButtonNames) {
    if (name == button.name) {
      return button.id;
    }
  }
  return 0;
}

bool HasButton(HWND box, int id) {
  HWND button = GetDlgItem(box, id);
  return button != nullptr && IsWindowVisible(button);
}

std::string ButtonsOf(HWND box) {
  std::string list;
  for (const ButtonName& button : ButtonNames) {
    if (HasButton(box, button.id)) {
      list += list.empty() ? "" : ",";
      list += button.name;
    }
  }
  return list;
}

// The default button as the user sees it: the one drawn as default (BS_DEFPUSHBUTTON), which is
// also the one Enter presses. Wine's message box marks it only so, leaving the dialog's own
// default id (DM_GETDEFID) at IDOK; that id is the fallback when no button is marked.
std::string DefaultButtonOf(HWND box) {
  for (const ButtonName& button : ButtonNames) {
    HWND control = GetDlgItem(box, button.id);
    if (control != nullptr && IsWindowVisible(control) &&
        (static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE)) & BS_TYPEMASK) ==
            BS_DEFPUSHBUTTON) {
      return button.name;
    }
  }
  DWORD_PTR result = 0;
  if (SendMessageTimeoutW(box, DM_GETDEFID, 0, 0, SMTO_NORMAL, TimeoutMs, &result) &&
      HIWORD(result) == DC_HASDEFID) {
    return ButtonNameOf(LOWORD(result));
  }
  return "none";
}

void ReportBox(int number, HWND box, bool expected) {
  Print("box", std::to_string(number));
  Print("caption", Escape(WindowText(box)));
  HWND text = GetDlgItem(box, BoxTextId);
  Print("text", text != nullptr ? Escape(WindowText(text)) : std::string());
  Print("icon", IconOf(box));
  Print("buttons", ButtonsOf(box));
  Print("default", DefaultButtonOf(box));
  Print("foreground", GetForegroundWindow() == box ? "yes" : "no");
  auto exStyle = static_cast<DWORD>(GetWindowLongW(box, GWL_EXSTYLE));
  Print("topmost", (exStyle & WS_EX_TOPMOST) != 0 ? "yes" : "no");
  Print("expected", expected ? "yes" : "no");
}

// Enter goes to the window that has the keyboard focus in the box's thread, as a key press does;
// the dialog manager turns it into the default button.
void PressEnter(HWND box) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  HWND target = box;
  if (GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info) &&
      info.hwndFocus != nullptr) {
    target = info.hwndFocus;
  }
  PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  PostMessageW(target, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001u));
}

void Answer(HWND box, const std::string& action) {
  Print("action", action);
  if (action == "enter") {
    PressEnter(box);
    return;
  }
  int id = ButtonIdOf(action);
  if (id == 0 || !HasButton(box, id)) {
    Print("error", "the box has no button " + action + "; pressed enter instead");
    PressEnter(box);
    return;
  }
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

void WaitUntilClosed(HWND box) {
  DWORD start = GetTickCount();
  while (IsWindow(box) && IsWindowVisible(box)) {
    if (GetTickCount() - start > TimeoutMs) {
      Print("error", "the box did not close");
      return;
    }
    Sleep(PollMs);
  }
}

void PutLittleEndian(std::string* out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  }
}

// Writes the pixels (top row first, 0x00RRGGBB) as an uncompressed 24-bit BMP.
bool WriteBmp(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels) {
  constexpr uint32_t HeadersSize = 14 + 40;
  uint32_t rowSize = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
  uint32_t imageSize = rowSize * static_cast<uint32_t>(height);
  std::string bmp = "BM";
  PutLittleEndian(&bmp, HeadersSize + imageSize, 4);
  PutLittleEndian(&bmp, 0, 4);
  PutLittleEndian(&bmp, HeadersSize, 4);
  PutLittleEndian(&bmp, 40, 4);  // BITMAPINFOHEADER
  PutLittleEndian(&bmp, static_cast<uint32_t>(width), 4);
  PutLittleEndian(&bmp, static_cast<uint32_t>(height), 4);  // positive: bottom row first
  PutLittleEndian(&bmp, 1, 2);
  PutLittleEndian(&bmp, 24, 2);
  PutLittleEndian(&bmp, BI_RGB, 4);
  PutLittleEndian(&bmp, imageSize, 4);
  PutLittleEndian(&bmp, 2835, 4);  // 72 dots per inch
  PutLittleEndian(&bmp, 2835, 4);
  PutLittleEndian(&bmp, 0, 4);
  PutLittleEndian(&bmp, 0, 4);
  for (int y = height - 1; y >= 0; --y) {
    const uint32_t* source = pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
    std::string row;
    for (int x = 0; x < width; ++x) {
      PutLittleEndian(&row, source[x], 3);
    }
    row.resize(rowSize, '\0');
    bmp += row;
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    return false;
  }
  bool written = std::fwrite(bmp.data(), 1, bmp.size(), file) == bmp.size();
  return std::fclose(file) == 0 && written;
}

// Saves the box as it stands on the screen, frame and caption included, once it has painted
// itself: two pictures taken a moment apart must agree.
void SaveBoxPicture(int number, HWND box) {
  std::string path = PicturePrefix + std::to_string(number) + ".bmp";
  RECT rect = {};
  std::vector<uint32_t> pixels;
  bool settled = false;
  DWORD start = GetTickCount();
  while (!settled && GetTickCount() - start <= PictureTimeoutMs) {
    Sleep(PictureSettleMs);
    RECT now = {};
    std::vector<uint32_t> latest;
    if (!GetWindowRect(box, &now) || !CaptureScreen(now, &latest)) {
      break;
    }
    settled = EqualRect(&now, &rect) && latest == pixels;
    rect = now;
    pixels.swap(latest);
  }
  if (!settled) {
    Print("error", "box " + std::to_string(number) + " did not settle for its picture");
  }
  if (pixels.empty() || !WriteBmp(path, rect.right - rect.left, rect.bottom - rect.top, pixels)) {
    Print("error", "cannot save the picture " + Escape(path));
    return;
  }
  Print("picture", Escape(path));
}

int Usage() {
  std::fputs(
      "usage: box_reader.exe [--timeout MS] [--pictures PREFIX] FOLDER COMMAND-LINE-HEX "
      "[ok|yes|no|cancel|enter]...\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  int next = 1;
  for (;;) {
    if (next + 1 < argc && std::strcmp(argv[next], "--timeout") == 0) {
      TimeoutMs = static_cast<DWORD>(std::strtoul(argv[next + 1], nullptr, 10));
    } else if (next + 1 < argc && std::strcmp(argv[next], "--pictures") == 0) {
      PicturePrefix = argv[next + 1];
    } else {
      break;
    }
    next += 2;
  }
  if (argc - next < 2) {
    return Usage();
  }
  const char* folder = argv[next];
  std::string commandLine;
  if (!DecodeHex(argv[next + 1], &commandLine)) {
    return Usage();
  }
  std::vector<std::string> actions(argv + next + 2, argv + argc);

  Print("command", Escape(AnsiToUtf8(commandLine)));
  // A bare program name is looked for in this process's folder first, then in its current one.
  SetCurrentDirectoryA(folder);
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back('\0');
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder,
                      &startup, &process)) {
    Print("error", "CreateProcessA failed with " + std::to_string(GetLastError()));
    return 1;
  }

  int number = 0;
  bool stuck = false;
  for (const std::string& action : actions) {
    HWND box = nullptr;
    Wait wait = WaitForBox(process, &box);
    if (wait == Wait::Ended) {
      Print("error", "the program ended before box " + std::to_string(number + 1));
      break;
    }
    if (wait == Wait::TimedOut) {
      Print("error", "no box " + std::to_string(number + 1) + " within the time limit");
      stuck = true;
      break;
    }
    ReportBox(++number, box, true);
    if (!PicturePrefix.empty()) {
      SaveBoxPicture(number, box);
    }
    Answer(box, action);
    WaitUntilClosed(box);
  }

  int unexpected = 0;
  for (;;) {
    HWND box = nullptr;
    Wait wait = stuck ? Wait::TimedOut : WaitForBox(process, &box);
    if (wait == Wait::Ended) {
      break;
    }
    if (wait == Wait::TimedOut || unexpected == MaxUnexpectedBoxes) {
      Print("error", "the program did not end; terminated");
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, TimeoutMs);
      break;
    }
    ++unexpected;
    ReportBox(++number, box, false);
    if (!PicturePrefix.empty()) {
      SaveBoxPicture(number, box);
    }
    Answer(box, "enter");
    WaitUntilClosed(box);
  }

  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  Print("exit", std::to_string(exitCode));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 0;
}
