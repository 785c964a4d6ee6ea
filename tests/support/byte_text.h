// Bytes for failure messages, and the one conversion between UTF-8 and code page 932 that the
// tests make.
#pragma once

#include <string>

namespace support {

// Bytes as C-escaped text: printable ASCII as is, every other byte and the backslash as \xNN,
// so that "a\r\nb" reads as a\x0D\x0Ab in a failure message.
std::string Escaped(const std::string& bytes);

// A test parameter name for a row that is named by its bytes: letters and digits as they are,
// every other byte as _ and two hexadecimal digits ("$1AE" gives _241AE), "Empty" for no byte;
// a long text is cut, and its length is added, so that the names of long rows stay apart.
std::string NameOf(const std::string& bytes);

// A test parameter name made of a row's description: its words run together, each begun with a
// capital letter, every character but ASCII letters and digits left out ("entry as line 1001"
// gives EntryAsLine1001).
std::string TitleName(const std::string& description);

// UTF-8 text as the code page 932 bytes that the settings file and the Windows programs hold,
// and back. Text that does not convert fails the test that asked and gives what did convert.
std::string Cp932(const std::string& utf8);
std::string Utf8FromCp932(const std::string& cp932);

}  // namespace support
