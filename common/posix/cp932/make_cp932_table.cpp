// Writes the code page 932 table the native programs decode their texts with, as C++ source, by
// asking the system's converter (iconv's "CP932") for every one- and two-byte sequence. Run at
// build time, so that the programs themselves need no converter when they run:
//
//   make_cp932_table OUTPUT
//
// Fails, writing nothing, when the converter is missing or maps a sequence the layout has no
// room for.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "cp932_layout.h"

namespace {

constexpr unsigned ByteValues = 256;
constexpr unsigned EntriesPerLine = 12;
constexpr size_t Utf32CharacterSize = 4;

iconv_t Converter = nullptr;

// The one character the converter makes of exactly these bytes, or NoCharacter when they are
// not one whole character.
uint32_t CharacterOf(const std::string& bytes) {
  iconv(Converter, nullptr, nullptr, nullptr, nullptr);
  std::string input = bytes;
  char* in = input.data();
  size_t inLeft = input.size();
  char output[2 * Utf32CharacterSize] = {};
  char* out = output;
  size_t outLeft = sizeof output;
  if (iconv(Converter, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) || inLeft != 0 ||
      sizeof output - outLeft != Utf32CharacterSize) {
    return cp932::NoCharacter;
  }
  uint32_t character = 0;
  for (size_t i = Utf32CharacterSize; i-- > 0;) {
    character = (character << 8) | static_cast<unsigned char>(output[i]);
  }
  return character;
}

std::string Bytes(unsigned first) { return std::string(1, static_cast<char>(first)); }

std::string Bytes(unsigned first, unsigned second) {
  return Bytes(first) + static_cast<char>(second);
}

bool FitsTheTable(uint32_t character) { return character < cp932::NoCharacter; }

void WriteEntries(std::ostream& out, const std::vector<uint32_t>& entries, const char* indent) {
  for (size_t i = 0; i < entries.size(); ++i) {
    char entry[16];
    std::snprintf(entry, sizeof entry, "0x%04X,", static_cast<unsigned>(entries[i]));
    out << (i % EntriesPerLine == 0 ? indent : " ") << entry
        << ((i + 1) % EntriesPerLine == 0 || i + 1 == entries.size() ? "\n" : "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make_cp932_table OUTPUT\n";
    return 2;
  }
  // UTF-32, least significant byte first, without a byte-order mark.
  Converter = iconv_open("UTF-32LE", "CP932");
  if (Converter ==
      reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1))) {  // NOLINT(performance-no-int-to-ptr)
    std::cerr << "make_cp932_table: the system has no CP932 converter (iconv)\n";
    return 1;
  }

  std::vector<uint32_t> single;
  std::vector<std::vector<uint32_t>> rows(cp932::LeadRowCount);
  for (unsigned first = 0; first < ByteValues; ++first) {
    uint32_t character = CharacterOf(Bytes(first));
    if (character != cp932::NoCharacter && !FitsTheTable(character)) {
      std::cerr << "make_cp932_table: byte " << first << " maps beyond U+FFFE\n";
      return 1;
    }
    single.push_back(character);
    int row = cp932::LeadRow(first);
    for (unsigned second = 0; second < ByteValues; ++second) {
      uint32_t pair =
          character == cp932::NoCharacter ? CharacterOf(Bytes(first, second)) : cp932::NoCharacter;
      bool placed = row >= 0 && cp932::TrailColumn(second) >= 0;
      if (placed) {
        rows[static_cast<size_t>(row)].push_back(pair);
      }
      if (pair != cp932::NoCharacter && (!placed || !FitsTheTable(pair))) {
        std::cerr << "make_cp932_table: the pair " << first << " " << second
                  << " maps to a character the table has no room for\n";
        return 1;
      }
    }
  }
  iconv_close(Converter);

  std::string partial = std::string(argv[1]) + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << "// Made at build time by make_cp932_table from the system's CP932 converter.\n"
           "// Characters of the single bytes; NoCharacter for lead bytes and invalid bytes.\n"
           "constexpr uint16_t SingleByteCharacters["
        << ByteValues << "] = {\n";
    WriteEntries(out, single, "    ");
    out << "};\n\n// Characters of the two-byte sequences, by LeadRow and TrailColumn.\n"
           "constexpr uint16_t DoubleByteCharacters[LeadRowCount][TrailColumnCount] = {\n";
    for (const std::vector<uint32_t>& row : rows) {
      out << "    {\n";
      WriteEntries(out, row, "        ");
      out << "    },\n";
    }
    out << "};\n";
    if (!out.flush()) {
      std::cerr << "make_cp932_table: cannot write " << partial << "\n";
      return 1;
    }
  }
  if (std::rename(partial.c_str(), argv[1]) != 0) {
    std::cerr << "make_cp932_table: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
