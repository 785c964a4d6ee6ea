// Code page 932 text shown on a UTF-8 terminal.
#pragma once

#include <string>

// text, in code page 932, as UTF-8. A byte that does not begin a character of the code page
// becomes U+FFFD REPLACEMENT CHARACTER, and decoding goes on with the byte after it.
std::string Utf8FromCp932(const std::string& text);
