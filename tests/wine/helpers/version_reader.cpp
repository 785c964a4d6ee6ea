// version_reader: the version record and icon groups of a program, as Windows reads them.
//
//   version_reader.exe PROGRAM
//
// Prints, one "key=value" per line in UTF-8: "translation=LLLL CCCC" for each language and code
// page pair, "fixed-file=a.b.c.d" and "fixed-product=a.b.c.d" from the fixed part, one
// "string.NAME=value" for each known string entry of the first translation's block, and
// "icon-group=NAME" followed by "icon-image=WxH colours=N bits=B" for each image of each icon
// group.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t* const StringNames[] = {
    L"Comments",     L"CompanyName",    L"FileDescription", L"FileVersion",
    L"InternalName", L"LegalCopyright", L"LegalTrademarks", L"OriginalFilename",
    L"PrivateBuild", L"ProductName",    L"ProductVersion",  L"SpecialBuild",
    L"Usage"};

std::string WideToUtf8(const wchar_t* wide) {
  int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) {
    return std::string();
  }
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size - 1));
  return out;
}

void Print(const std::string& key, const std::string& value) {
  std::fputs((key + "=" + value + "\n").c_str(), stdout);
}

std::string VersionText(DWORD high, DWORD low) {
  return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
         std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
}

#pragma pack(push, 2)
struct IconGroupEntry {
  BYTE width;
  BYTE height;
  BYTE colourCount;
  BYTE reserved;
  WORD planes;
  WORD bitCount;
  DWORD bytesInResource;
  WORD id;
};
struct IconGroupHeader {
  WORD reserved;
  WORD type;
  WORD count;
};
#pragma pack(pop)

std::string ResourceName(LPWSTR name) {
  if (IS_INTRESOURCE(name)) {
    return "#" + std::to_string(reinterpret_cast<uintptr_t>(name));
  }
  return WideToUtf8(name);
}

BOOL CALLBACK PrintIconGroup(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR) {
  Print("icon-group", ResourceName(name));
  HRSRC found = FindResourceW(module, name, type);
  HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
  const auto* header =
      static_cast<const IconGroupHeader*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  if (header == nullptr) {
    return TRUE;
  }
  const auto* entries = reinterpret_cast<const IconGroupEntry*>(header + 1);
  for (WORD i = 0; i < header->count; ++i) {
    const IconGroupEntry& entry = entries[i];
    int width = entry.width == 0 ? 256 : entry.width;
    int height = entry.height == 0 ? 256 : entry.height;
    Print("icon-image", std::to_string(width) + "x" + std::to_string(height) +
                            " colours=" + std::to_string(entry.colourCount) +
                            " bits=" + std::to_string(entry.bitCount));
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  if (argc != 2) {
    std::fputs("usage: version_reader.exe PROGRAM\n", stderr);
    return 2;
  }
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(argv[1], &ignored);
  if (size != 0) {
    std::vector<BYTE> data(size);
    if (GetFileVersionInfoA(argv[1], 0, size, data.data())) {
      VS_FIXEDFILEINFO* fixed = nullptr;
      UINT length = 0;
      if (VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
          fixed != nullptr) {
        Print("fixed-file", VersionText(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
        Print("fixed-product", VersionText(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
      }
      WORD* translations = nullptr;
      if (VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                         reinterpret_cast<void**>(&translations), &length)) {
        for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
          char pair[16];
          std::snprintf(pair, sizeof pair, "%04X %04X", translations[i], translations[i + 1]);
          Print("translation", pair);
        }
        if (length >= 2 * sizeof(WORD)) {
          wchar_t block[32];
          std::swprintf(block, 32, L"%04X%04X", translations[0], translations[1]);
          for (const wchar_t* name : StringNames) {
            std::wstring path = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + name;
            wchar_t* value = nullptr;
            if (VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value),
                               &length) &&
                value != nullptr) {
              Print(std::string("string.") + WideToUtf8(name), WideToUtf8(value));
            }
          }
        }
      }
    }
  }
  HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module != nullptr) {
    EnumResourceNamesW(module, MAKEINTRESOURCEW(14), PrintIconGroup, 0);
    FreeLibrary(module);
  }
  std::fflush(stdout);
  return 0;
}
