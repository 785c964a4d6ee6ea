// Settings-file text that fills a file around the lines a test is about.
#pragma once

#include <string>

namespace support {

// Line n of the filler: "K<n>=<n>", or "K<n>=<value>" when a value is given.
std::string FillerLine(int n, const std::string& value = "");

// count filler lines, FillerLine(0) first, each ended by lineEnd.
std::string FillerLines(int count, const std::string& lineEnd = "\r\n",
                        const std::string& value = "");

}  // namespace support
