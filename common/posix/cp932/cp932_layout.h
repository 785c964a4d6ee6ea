// How the code page 932 table is laid out: one entry for each single byte, and one row for each
// lead byte of a two-byte character, with one entry for each trail byte the code page allows.
#pragma once

#include <cstdint>

namespace cp932 {

// An entry that is no character: the byte or pair is not valid on its own. U+FFFF is a
// noncharacter, so no code page maps to it.
constexpr uint16_t NoCharacter = 0xFFFF;

// Lead bytes come in two ranges; trail bytes in one, from which 0x7F is left out by the table's
// contents rather than by its layout.
constexpr unsigned FirstLeadRange[2] = {0x81, 0x9F};
constexpr unsigned SecondLeadRange[2] = {0xE0, 0xFC};
constexpr unsigned FirstTrailByte = 0x40;
constexpr unsigned LastTrailByte = 0xFC;

constexpr unsigned FirstLeadRangeSize = FirstLeadRange[1] - FirstLeadRange[0] + 1;
constexpr unsigned LeadRowCount =
    FirstLeadRangeSize + (SecondLeadRange[1] - SecondLeadRange[0] + 1);
constexpr unsigned TrailColumnCount = LastTrailByte - FirstTrailByte + 1;

// The row of a lead byte, or -1 when the byte leads no two-byte character.
constexpr int LeadRow(unsigned byte) {
  if (byte >= FirstLeadRange[0] && byte <= FirstLeadRange[1]) {
    return static_cast<int>(byte - FirstLeadRange[0]);
  }
  if (byte >= SecondLeadRange[0] && byte <= SecondLeadRange[1]) {
    return static_cast<int>(FirstLeadRangeSize + (byte - SecondLeadRange[0]));
  }
  return -1;
}

// The column of a trail byte, or -1 when the byte can follow no lead byte.
constexpr int TrailColumn(unsigned byte) {
  return byte >= FirstTrailByte && byte <= LastTrailByte ? static_cast<int>(byte - FirstTrailByte)
                                                         : -1;
}

}  // namespace cp932
