// file_holder: keeps a file open the way another program would, for as long as the driver wants.
//
//   file_holder.exe FILE ACCESS SHARE
//
// ACCESS and SHARE are each made of the letters r, w and d (read, write, delete), or "-" for
// none. Opens FILE (which must exist) with CreateFileA and that access and share mode, prints
// "ready" (or "error=CODE" when the open fails), and holds it until its standard input ends.
#include <windows.h>

#include <cstring>
#include <string>

#include "stdin_wait.h"

namespace {

struct Letter {
  char letter;
  DWORD access;  // for ACCESS
  DWORD share;   // for SHARE
};
constexpr Letter Letters[] = {{'r', GENERIC_READ, FILE_SHARE_READ},
                              {'w', GENERIC_WRITE, FILE_SHARE_WRITE},
                              {'d', DELETE, FILE_SHARE_DELETE}};

// Turns letters into access rights (forShare false) or share flags (forShare true).
bool ParseLetters(const char* text, bool forShare, DWORD* flags) {
  *flags = 0;
  if (std::strcmp(text, "-") == 0) {
    return true;
  }
  for (const char* c = text; *c != '\0'; ++c) {
    bool known = false;
    for (const Letter& letter : Letters) {
      if (*c == letter.letter) {
        *flags |= forShare ? letter.share : letter.access;
        known = true;
      }
    }
    if (!known) {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  DWORD access = 0;
  DWORD share = 0;
  if (argc != 4 || !ParseLetters(argv[2], false, &access) || !ParseLetters(argv[3], true, &share)) {
    TellDriver("error=usage: file_holder.exe FILE ACCESS SHARE");
    return 2;
  }
  HANDLE file =
      CreateFileA(argv[1], access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    TellDriver(("error=" + std::to_string(GetLastError())).c_str());
    return 1;
  }
  TellDriver("ready");
  WaitForEndOfInput();
  CloseHandle(file);
  return 0;
}
