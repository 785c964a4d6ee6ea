#include "row_name.h"

namespace support {

std::string WordsName(const std::vector<std::string>& words) {
  std::string name = "Words";
  for (const std::string& word : words) {
    name += "_" + NameOf(word);
  }
  return name;
}

}  // namespace support
