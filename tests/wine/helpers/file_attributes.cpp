// file_attributes: a file's attributes as Windows keeps them, read and optionally changed.
//
//   file_attributes.exe FILE [ATTRIBUTES]
//
// With ATTRIBUTES (hexadecimal), first sets them with SetFileAttributesA. Then prints
// "attributes=XXXXXXXX" from GetFileAttributesA, or "error=CODE" when a call fails.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fputs("usage: file_attributes.exe FILE [ATTRIBUTES]\n", stderr);
    return 2;
  }
  if (argc == 3) {
    auto attributes = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 16));
    if (!SetFileAttributesA(argv[1], attributes)) {
      std::printf("error=%lu\n", static_cast<unsigned long>(GetLastError()));
      return 1;
    }
  }
  DWORD attributes = GetFileAttributesA(argv[1]);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    std::printf("error=%lu\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  std::printf("attributes=%08lX\n", static_cast<unsigned long>(attributes));
  return 0;
}
