// Shared pieces of the unit tests: a fixture that gives every test a fresh double and a fresh
// library state, and helpers that load and write the settings file through the real code.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform_double.h"
#include "settings_file.h"
#include "settings_lines.h"

class DoubleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::ResetDouble();
    SettingsFile = TextFile();
    ReleaseSettingsLines();
  }
};

// Loads the named file of the double into the store, as the programs do. Returns the exit code
// (0 unless a file operation failed).
uint32_t LoadThroughStore(const char* name);

// Writes the store back to the named file of the double, as the repair tool does.
uint32_t WriteThroughStore(const char* name);

// Makes "a\r\nb" readable in failure messages: control bytes and bytes from 0x80 as \xNN.
std::string Visible(const std::string& bytes);

// The boxes shown, one "caption|text|style" line each, for comparing in one assertion.
std::vector<std::string> ShownBoxes();
