// Code page 932 to UTF-8 for the terminal: the built-in table against the system's converter.
#include "cp932_text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace {

// The system's converter with the same rule for bytes that begin no character: U+FFFD, then on
// with the next byte.
class ReferenceDecoder {
 public:
  ReferenceDecoder() : converter_(iconv_open("UTF-8", "CP932")) {}
  ~ReferenceDecoder() {
    if (IsOpen()) {
      iconv_close(converter_);
    }
  }
  ReferenceDecoder(const ReferenceDecoder&) = delete;
  ReferenceDecoder& operator=(const ReferenceDecoder&) = delete;

  bool IsOpen() const { return converter_ != reinterpret_cast<iconv_t>(static_cast<intptr_t>(-1)); }

  std::string Decode(std::string input) {
    iconv(converter_, nullptr, nullptr, nullptr, nullptr);
    std::string output;
    char* in = input.data();
    size_t inLeft = input.size();
    while (inLeft > 0) {
      char chunk[64];
      char* out = chunk;
      size_t outLeft = sizeof chunk;
      size_t result = iconv(converter_, &in, &inLeft, &out, &outLeft);
      output.append(chunk, sizeof chunk - outLeft);
      if (result == static_cast<size_t>(-1) && errno != E2BIG) {
        output += "\uFFFD";
        ++in;
        --inLeft;
      }
    }
    return output;
  }

 private:
  iconv_t converter_;
};

// A kind of character, by a name that serves as the test's own, with its bytes and their text.
struct KindCase {
  const char* name;
  std::string cp932;
  std::string utf8;
};

const KindCase KindCases[] = {
    {"Nothing", "", ""},
    {"AsciiWithTheBackslashAndTildeKept", "a\\~\r\n", "a\\~\r\n"},
    {"HalfwidthKatakana", "\xB1\xDF", "ｱﾟ"},
    {"Kanji", "\x8A\xBF\x8E\x9A", "漢字"},
    {"FullwidthReverseSolidusAndTilde", "\x81\x5F\x81\x60", "＼～"},
    {"NecSpecialCharacter", "\x87\x40", "①"},
    {"IbmExtension", "\xFA\x40", "ⅰ"},
    {"BytesThatAreNoCharacter", "\x80\xA0\xFD\xFE\xFF", "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
    {"LeadByteBeforeAByteNoPairEndsWith", "\x81\x7F\x82 ", "\uFFFD\x7F\uFFFD "},
    {"LeadByteBeforeAnUnassignedPair", "\x85\x40z", "\uFFFD@z"},
    {"LeadByteAtTheEnd", "x\x82", "x\uFFFD"},
    {"NulInside", std::string("a\0b", 3), std::string("a\0b", 3)},
};

class Cp932KindTest : public testing::TestWithParam<KindCase> {};

TEST_P(Cp932KindTest, DecodesTheCharactersOfEachKind) {
  const KindCase& row = GetParam();
  EXPECT_EQ(row.utf8, Utf8FromCp932(row.cp932));
}

INSTANTIATE_TEST_SUITE_P(Rows, Cp932KindTest, testing::ValuesIn(KindCases),
                         [](const testing::TestParamInfo<KindCase>& row) {
                           return std::string(row.param.name);
                         });

TEST(Cp932TextTest, DecodesEveryByteAndBytePairAsTheSystemConverterDoes) {
  ReferenceDecoder reference;
  ASSERT_TRUE(reference.IsOpen()) << "the system has no CP932 converter";
  int differences = 0;
  for (unsigned first = 0; first < 256; ++first) {
    for (unsigned second = 0; second <= 256 && differences < 10; ++second) {
      std::string input(1, static_cast<char>(first));
      if (second < 256) {
        input += static_cast<char>(second);
      }
      std::string expected = reference.Decode(input);
      std::string decoded = Utf8FromCp932(input);
      if (decoded != expected) {
        ++differences;
        ADD_FAILURE() << "bytes " << std::hex << first << " " << second << ": " << decoded
                      << " instead of " << expected;
      }
    }
  }
}

}  // namespace
