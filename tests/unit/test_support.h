// Shared pieces of the unit tests: the one reset of the programs' state, fixtures that give every
// test (and every row of a table) a fresh double and fresh programs, and helpers that load and
// write the settings file through the real code.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "byte_text.h"
#include "platform_double.h"
#include "program_texts.h"
#include "settings_file.h"
#include "settings_lines.h"

using support::Escaped;

// Puts every piece of module-level state back as a program starts with it: the double (files,
// boxes, scripts, handles, counted allocations), the text file object, the line store, the
// target width, the program caption, the viewer's value, and the new-handler that a program
// installs.
void ResetProgramState();

class DoubleTest : public testing::Test {
 protected:
  void SetUp() override { ResetProgramState(); }
};

// A table-driven test: one instance per row, each on fresh programs and a fresh double.
template <typename Row>
class DoubleTableTest : public DoubleTest, public testing::WithParamInterface<Row> {};

// Names each instance of a table-driven test after its row.
template <typename Row>
std::string RowName(const testing::TestParamInfo<Row>& row) {
  return row.param.name;
}

// Loads the named file of the double into the store, as the programs do. Returns the exit code
// (0 unless a file operation failed).
uint32_t LoadThroughStore(const char* name);

// Writes the store back to the named file of the double, as the repair tool does.
uint32_t WriteThroughStore(const char* name);

// The boxes shown, one "caption|text|style" line each, for comparing in one assertion.
std::vector<std::string> ShownBoxes();

// One line of ShownBoxes for a box whose caption and text are given in UTF-8.
std::string BoxLine(const std::string& caption, const std::string& text, uint32_t style);

// The same for an error box: the stop icon, brought to the foreground.
std::string ErrorBoxLine(const std::string& caption, const std::string& text);
