// Decoding runs on a table read from the system's converter when the programs were built
// (make_cp932_table), so that a run loads no converter: the native programs are linked
// statically, and glibc's converters can only be loaded into a dynamically linked program.
#include "cp932_text.h"

#include <cstdint>

#include "cp932_layout.h"

namespace cp932 {
namespace {
#include "cp932_table.inc"
}  // namespace
}  // namespace cp932

namespace {

constexpr uint16_t ReplacementCharacter = 0xFFFD;

// The character that text holds at position, and how many bytes it takes there.
uint16_t CharacterAt(const std::string& text, size_t position, size_t* length) {
  auto lead = static_cast<unsigned char>(text[position]);
  *length = 1;
  if (cp932::SingleByteCharacters[lead] != cp932::NoCharacter) {
    return cp932::SingleByteCharacters[lead];
  }
  int row = cp932::LeadRow(lead);
  int column = position + 1 < text.size()
                   ? cp932::TrailColumn(static_cast<unsigned char>(text[position + 1]))
                   : -1;
  if (row < 0 || column < 0) {
    return ReplacementCharacter;
  }
  uint16_t character =
      cp932::DoubleByteCharacters[static_cast<size_t>(row)][static_cast<size_t>(column)];
  if (character == cp932::NoCharacter) {
    return ReplacementCharacter;
  }
  *length = 2;
  return character;
}

void AppendUtf8(std::string& output, uint16_t character) {
  if (character < 0x80) {
    output += static_cast<char>(character);
  } else if (character < 0x800) {
    output += static_cast<char>(0xC0 | (character >> 6));
    output += static_cast<char>(0x80 | (character & 0x3F));
  } else {
    output += static_cast<char>(0xE0 | (character >> 12));
    output += static_cast<char>(0x80 | ((character >> 6) & 0x3F));
    output += static_cast<char>(0x80 | (character & 0x3F));
  }
}

}  // namespace

std::string Utf8FromCp932(const std::string& text) {
  std::string output;
  output.reserve(text.size());
  size_t length = 0;
  for (size_t position = 0; position < text.size(); position += length) {
    AppendUtf8(output, CharacterAt(text, position, &length));
  }
  return output;
}
