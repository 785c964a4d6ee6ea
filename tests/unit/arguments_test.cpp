// The repair tool's command line: the token reader, the number syntax and the argument checks.
#include "arguments.h"

#include <string>
#include <vector>

#include "common_helpers.h"
#include "test_support.h"

namespace {

using support::NameOf;

std::vector<std::string> Tokens(const std::string& commandLine) {
  std::vector<std::string> tokens;
  const char* position = commandLine.c_str();
  for (std::string token = ReadCommandToken(&position); !token.empty();
       token = ReadCommandToken(&position)) {
    tokens.push_back(token);
  }
  return tokens;
}

struct TokenCase {
  std::string line;
  std::vector<std::string> tokens;
};

std::string TokenRowName(const testing::TestParamInfo<TokenCase>& row) {
  return NameOf(row.param.line);
}

class CommandTokens : public testing::TestWithParam<TokenCase> {};

TEST_P(CommandTokens, SplitByBlanksAndQuotes) {
  EXPECT_EQ(Tokens(GetParam().line), GetParam().tokens) << Escaped(GetParam().line.substr(0, 60));
}

const std::string Big(4096, '7');

INSTANTIATE_TEST_SUITE_P(
    Rows, CommandTokens,
    testing::Values(TokenCase{"", {}}, TokenCase{"   ", {}}, TokenCase{"p 450", {"p", "450"}},
                    TokenCase{"p\t450", {"p", "450"}},
                    TokenCase{"p\x01\x1F 450 \x20", {"p", "450"}},
                    TokenCase{"\"C:\\Program Files\\Panefix.exe\" 450",
                              {"C:\\Program Files\\Panefix.exe", "450"}},
                    TokenCase{"p \"\"", {"p"}}, TokenCase{"p \"\" 450", {"p", "450"}},
                    TokenCase{"p \"\"\"\"450", {"p", "450"}},
                    TokenCase{"p \" 450\"", {"p", " 450"}}, TokenCase{"p \"45 0\"", {"p", "45 0"}},
                    TokenCase{"p 4\"5 \"0", {"p", "45 0"}}, TokenCase{"p \"450 ", {"p", "450 "}},
                    TokenCase{"p \"", {"p"}}, TokenCase{"p a\"\"b", {"p", "ab"}},
                    TokenCase{"p \x83\x5C\x83\x58", {"p", "\x83\x5C\x83\x58"}},
                    TokenCase{"p " + Big, {"p", Big}}, TokenCase{"p " + Big + "8", {"p", Big, "8"}},
                    TokenCase{"p \"" + Big + "89\"", {"p", Big + "89"}},
                    TokenCase{"p \"" + Big + "\"x", {"p", Big, "x"}}),
    TokenRowName);

TEST(CommandTokenCount, CountAndPick) {
  EXPECT_EQ(CountArguments("p"), 0);
  EXPECT_EQ(CountArguments("p \"\" \"\""), 0);
  EXPECT_EQ(CountArguments("p 45 0"), 2);
  EXPECT_EQ(ArgumentAt("p 45 0", 1), "45");
  EXPECT_EQ(ArgumentAt("p 45 0", 2), "0");
  EXPECT_EQ(ArgumentAt("p 45 0", 3), "");
}

struct NumberCase {
  const char* text;
  bool ok;
  int32_t value;
};

std::string NumberRowName(const testing::TestParamInfo<NumberCase>& row) {
  return NameOf(row.param.text);
}

class NumberSyntax : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberSyntax, TextToInteger) {
  const NumberCase& c = GetParam();
  bool ok = !c.ok;
  int32_t value = TextToInteger(c.text, &ok);
  EXPECT_EQ(ok, c.ok) << "\"" << Escaped(c.text) << "\"";
  EXPECT_EQ(value, c.value) << "\"" << Escaped(c.text) << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NumberSyntax,
    testing::Values(
        NumberCase{"450", true, 450}, NumberCase{"+450", true, 450}, NumberCase{"0450", true, 450},
        NumberCase{"   450", true, 450}, NumberCase{"0", true, 0}, NumberCase{"-0", true, 0},
        NumberCase{"-5", true, -5}, NumberCase{"00000000000000000000032767", true, 32767},
        NumberCase{"2147483647", true, 2147483647}, NumberCase{"-2147483648", true, INT32_MIN},
        NumberCase{"$1AE", true, 430}, NumberCase{"x1AE", true, 430}, NumberCase{"X1AE", true, 430},
        NumberCase{"0x1ae", true, 430}, NumberCase{"0X1AE", true, 430},
        NumberCase{"0x1f", true, 31}, NumberCase{"$7fff", true, 32767},
        NumberCase{"$FFFFFFFF", true, -1}, NumberCase{"$80000000", true, INT32_MIN},
        NumberCase{"$000000001", true, 1}, NumberCase{" $10", true, 16},
        NumberCase{"2147483648", false, 0}, NumberCase{"-2147483649", false, 0},
        NumberCase{"9999999999", false, 0}, NumberCase{"99999999999999999999999", false, 0},
        NumberCase{"$100000000", false, 0}, NumberCase{"", false, 0}, NumberCase{"   ", false, 0},
        NumberCase{"-", false, 0}, NumberCase{"+", false, 0}, NumberCase{"- 5", false, 0},
        NumberCase{"--5", false, 0}, NumberCase{"$", false, 0}, NumberCase{"0x", false, 0},
        NumberCase{"x", false, 0}, NumberCase{"-$5", false, 0}, NumberCase{"-0x5", false, 0},
        NumberCase{"$G", false, 0}, NumberCase{"450 ", false, 0}, NumberCase{"\t450", false, 0},
        NumberCase{"450px", false, 0}, NumberCase{"45 0", false, 0}, NumberCase{"4.5", false, 0},
        NumberCase{"\x82\x53\x82\x54\x82\x4F", false, 0},  // full-width digits
        NumberCase{"0x0x5", false, 0}, NumberCase{"1e3", false, 0}),
    NumberRowName);

struct DecimalCase {
  int32_t value;
  const char* text;
};

std::string DecimalRowName(const testing::TestParamInfo<DecimalCase>& row) {
  return NameOf(row.param.text);
}

class DecimalText : public testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalText, IntegerToText) { EXPECT_EQ(IntegerToText(GetParam().value), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(Rows, DecimalText,
                         testing::Values(DecimalCase{0, "0"}, DecimalCase{1, "1"},
                                         DecimalCase{430, "430"}, DecimalCase{32767, "32767"},
                                         DecimalCase{-5, "-5"},
                                         DecimalCase{2147483647, "2147483647"},
                                         DecimalCase{INT32_MIN, "-2147483648"}),
                         DecimalRowName);

struct CheckCase {
  const char* name;
  std::string commandLine;
  const char* message;  // UTF-8; nullptr: accepted
  int32_t width;
};

class Arguments : public DoubleTableTest<CheckCase> {
 protected:
  void SetUp() override {
    DoubleTableTest::SetUp();
    caption_ = texts::ProgramBytes(texts::RepairCaption);
    ProgramCaption = caption_.c_str();
  }

  std::string caption_;
};

TEST_P(Arguments, CheckArgumentsAcceptsOneWidthOrRefusesWithOneBox) {
  const CheckCase& c = GetParam();
  fake::Double.commandLine = c.commandLine;
  bool accepted = CheckArguments();
  std::string shown = Escaped(c.commandLine.substr(0, 60));
  EXPECT_EQ(accepted, c.message == nullptr) << shown;
  EXPECT_EQ(TargetWidth, c.width) << shown;
  std::vector<std::string> boxes;
  if (c.message != nullptr) {
    boxes.push_back(ErrorBoxLine(texts::RepairCaption, c.message));
  }
  EXPECT_EQ(ShownBoxes(), boxes) << shown;
}

using texts::BadFormat;
using texts::OutOfRange;
using texts::TooManyArguments;

INSTANTIATE_TEST_SUITE_P(
    Rows, Arguments,
    testing::Values(
        CheckCase{"None", "Panefix.exe", nullptr, 430},
        CheckCase{"EmptyQuotes", "Panefix.exe \"\"", nullptr, 430},
        CheckCase{"Width", "Panefix.exe 450", nullptr, 450},
        CheckCase{"AfterATab", "Panefix.exe\t450", nullptr, 450},
        CheckCase{"AfterAQuotedPath", "\"C:\\a b\\Panefix.exe\" 450", nullptr, 450},
        CheckCase{"PlusSign", "Panefix.exe +450", nullptr, 450},
        CheckCase{"Hexadecimal", "Panefix.exe $1AE", nullptr, 430},
        CheckCase{"QuotedLeadingBlank", "Panefix.exe \" 450\"", nullptr, 450},
        CheckCase{"Smallest", "Panefix.exe 1", nullptr, 1},
        CheckCase{"Largest", "Panefix.exe 32767", nullptr, 32767},
        CheckCase{"LargestInHexadecimal", "Panefix.exe 0x7FFF", nullptr, 32767},
        CheckCase{"TwoWidths", "Panefix.exe 450 450", TooManyArguments, 430},
        CheckCase{"WidthSplitByABlank", "Panefix.exe 45 0", TooManyArguments, 430},
        CheckCase{"ThreeWords", "Panefix.exe x y z", TooManyArguments, 430},
        CheckCase{"Digits4097SplitInTwo", "Panefix.exe " + std::string(4097, '1'), TooManyArguments,
                  430},
        CheckCase{"QuotedTrailingBlank", "Panefix.exe \"450 \"", BadFormat, 430},
        CheckCase{"UnclosedQuote", "Panefix.exe \"450 ", BadFormat, 430},
        CheckCase{"QuotedInnerBlank", "Panefix.exe \"45 0\"", BadFormat, 430},
        CheckCase{"Unit", "Panefix.exe 450px", BadFormat, 430},
        CheckCase{"Fraction", "Panefix.exe 4.5", BadFormat, 430},
        CheckCase{"FullWidthDigits", "Panefix.exe \x82\x53\x82\x54\x82\x4F", BadFormat, 430},
        CheckCase{"BeyondInt32", "Panefix.exe 2147483648", BadFormat, 430},
        CheckCase{"TenDigits", "Panefix.exe 9999999999", BadFormat, 430},
        CheckCase{"NineHexadecimalDigits", "Panefix.exe $100000000", BadFormat, 430},
        CheckCase{"NegativeHexadecimal", "Panefix.exe -$1", BadFormat, 430},
        CheckCase{"Digits4096Overflowing", "Panefix.exe " + std::string(4096, '1'), BadFormat, 430},
        CheckCase{"AboveTheRange", "Panefix.exe 32768", OutOfRange, 430},
        CheckCase{"Zero", "Panefix.exe 0", OutOfRange, 430},
        CheckCase{"NegativeZero", "Panefix.exe -0", OutOfRange, 430},
        CheckCase{"Negative", "Panefix.exe -5", OutOfRange, 430},
        CheckCase{"LargestInt32", "Panefix.exe 2147483647", OutOfRange, 430},
        CheckCase{"AllBitsSet", "Panefix.exe $FFFFFFFF", OutOfRange, 430},
        CheckCase{"AboveTheRangeInHexadecimal", "Panefix.exe 0x8000", OutOfRange, 430},
        CheckCase{"Digits4096WithLeadingZeros", "Panefix.exe " + std::string(4090, '0') + "00450",
                  nullptr, 450}),
    RowName<CheckCase>);

class FormatMessage : public DoubleTest {};

// The format message holds the characters whose code page 932 form is easiest to get wrong.
TEST_F(FormatMessage, Bytes) {
  const std::string caption = texts::ProgramBytes(texts::RepairCaption);
  ProgramCaption = caption.c_str();
  fake::Double.commandLine = "Panefix.exe abc";
  EXPECT_FALSE(CheckArguments());
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  const std::string& text = fake::Double.boxes[0].text;
  // 「～\Panefix.exe : 81 75, 81 60, then a real backslash 5C.
  EXPECT_NE(text.find("\r\n\x81\x75\x81\x60\x5CPanefix.exe \x94\xBC\x8A\x70"), std::string::npos)
      << Escaped(text);
  // 」　と : 81 76, ideographic space 81 40, 82 C6.
  EXPECT_NE(text.find("\x81\x76\x81\x40\x82\xC6"), std::string::npos) << Escaped(text);
  // 例）　C:\test\Panefix.exe 450 at the end, after an empty line.
  const std::string ending =
      "\r\n\r\n\x97\xE1\x81\x6A\x81\x40"
      "C:\x5Ctest\x5CPanefix.exe 450";
  EXPECT_EQ(Escaped(text.substr(text.size() - ending.size())), Escaped(ending));
  EXPECT_EQ(Escaped(fake::Double.boxes[0].caption),
            Escaped("Mirvel \x83\x58\x83\x8C\x95\x9D\x8F\x43\x95\x9C\x83\x63\x81\x5B\x83\x8B"));
}

}  // namespace
