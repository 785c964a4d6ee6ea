// The names of the instances of table-driven tests, as GoogleTest shows and filters them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "byte_text.h"

namespace support {

// Names each instance of a table-driven test after its row's description, the row's member
// what, as TitleName gives it.
template <typename Row>
std::string RowName(const testing::TestParamInfo<Row>& row) {
  return TitleName(row.param.what);
}

// The name of a row that is named by the words of a command line: Words, then for each word _
// and the word as NameOf gives it ({"prog", "a b"} gives Words_prog_a_20b).
std::string WordsName(const std::vector<std::string>& words);

}  // namespace support
