// standin_host: a window of the host's main-window class, for as long as the driver wants one.
//
//   standin_host.exe
//
// Registers the class "TOstrelForm", shows a small top-level window of it in the corner of the
// screen, prints "ready", and keeps the window until its standard input ends.
#include <windows.h>

#include "stdin_wait.h"

namespace {

constexpr char HostClassName[] = "TOstrelForm";
constexpr UINT StopMessage = WM_APP + 1;

DWORD WINAPI WatchInput(void* param) {
  WaitForEndOfInput();
  PostThreadMessageW(static_cast<DWORD>(reinterpret_cast<uintptr_t>(param)), StopMessage, 0, 0);
  return 0;
}

}  // namespace

int main() {
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = HostClassName;
  if (RegisterClassA(&windowClass) == 0) {
    TellDriver("error=RegisterClassA failed");
    return 1;
  }
  // Small and out of the way, so that it never covers a message box in the middle of the screen.
  HWND window = CreateWindowExA(0, HostClassName, "Ostrel", WS_OVERLAPPEDWINDOW, 0, 0, 160, 80,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) {
    TellDriver("error=CreateWindowExA failed");
    return 1;
  }
  ShowWindow(window, SW_SHOWNOACTIVATE);
  UpdateWindow(window);

  // Make sure the thread has a message queue before the watcher may post to it.
  MSG message;
  PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
  HANDLE watcher = CreateThread(
      nullptr, 0, WatchInput, reinterpret_cast<void*>(static_cast<uintptr_t>(GetCurrentThreadId())),
      0, nullptr);
  TellDriver("ready");
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.hwnd == nullptr && message.message == StopMessage) {
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  DestroyWindow(window);
  WaitForSingleObject(watcher, INFINITE);
  CloseHandle(watcher);
  return 0;
}
