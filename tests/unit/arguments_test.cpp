// The repair tool's command line: the token reader, the number syntax and the argument checks.
#include <string>
#include <vector>

#include "arguments.h"
#include "common_helpers.h"
#include "test_support.h"

namespace {

std::vector<std::string> Tokens(const std::string& commandLine) {
  std::vector<std::string> tokens;
  const char* position = commandLine.c_str();
  for (std::string token = ReadCommandToken(&position); !token.empty();
       token = ReadCommandToken(&position)) {
    tokens.push_back(token);
  }
  return tokens;
}

TEST(CommandTokens, SplitByBlanksAndQuotes) {
  const std::string big(4096, '7');
  const struct {
    std::string line;
    std::vector<std::string> tokens;
  } cases[] = {
      {"", {}},
      {"   ", {}},
      {"p 450", {"p", "450"}},
      {"p\t450", {"p", "450"}},
      {"p\x01\x1F 450 \x20", {"p", "450"}},
      {"\"C:\\Program Files\\Panefix.exe\" 450", {"C:\\Program Files\\Panefix.exe", "450"}},
      {"p \"\"", {"p"}},
      {"p \"\" 450", {"p", "450"}},
      {"p \"\"\"\"450", {"p", "450"}},
      {"p \" 450\"", {"p", " 450"}},
      {"p \"45 0\"", {"p", "45 0"}},
      {"p 4\"5 \"0", {"p", "45 0"}},
      {"p \"450 ", {"p", "450 "}},
      {"p \"", {"p"}},
      {"p a\"\"b", {"p", "ab"}},
      {"p \x83\x5C\x83\x58", {"p", "\x83\x5C\x83\x58"}},
      {"p " + big, {"p", big}},
      {"p " + big + "8", {"p", big, "8"}},
      {"p \"" + big + "89\"", {"p", big + "89"}},
      {"p \"" + big + "\"x", {"p", big, "x"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Tokens(c.line), c.tokens) << Visible(c.line.substr(0, 60));
  }
}

TEST(CommandTokens, CountAndPick) {
  EXPECT_EQ(CountArguments("p"), 0);
  EXPECT_EQ(CountArguments("p \"\" \"\""), 0);
  EXPECT_EQ(CountArguments("p 45 0"), 2);
  EXPECT_EQ(ArgumentAt("p 45 0", 1), "45");
  EXPECT_EQ(ArgumentAt("p 45 0", 2), "0");
  EXPECT_EQ(ArgumentAt("p 45 0", 3), "");
}

TEST(NumberSyntax, TextToInteger) {
  const struct {
    const char* text;
    bool ok;
    int32_t value;
  } cases[] = {
      {"450", true, 450},
      {"+450", true, 450},
      {"0450", true, 450},
      {"   450", true, 450},
      {"0", true, 0},
      {"-0", true, 0},
      {"-5", true, -5},
      {"00000000000000000000032767", true, 32767},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"$1AE", true, 430},
      {"x1AE", true, 430},
      {"X1AE", true, 430},
      {"0x1ae", true, 430},
      {"0X1AE", true, 430},
      {"$FFFFFFFF", true, -1},
      {"$80000000", true, INT32_MIN},
      {"$000000001", true, 1},
      {" $10", true, 16},
      {"2147483648", false, 0},
      {"-2147483649", false, 0},
      {"9999999999", false, 0},
      {"99999999999999999999999", false, 0},
      {"$100000000", false, 0},
      {"", false, 0},
      {"   ", false, 0},
      {"-", false, 0},
      {"+", false, 0},
      {"- 5", false, 0},
      {"--5", false, 0},
      {"$", false, 0},
      {"0x", false, 0},
      {"x", false, 0},
      {"-$5", false, 0},
      {"-0x5", false, 0},
      {"$G", false, 0},
      {"450 ", false, 0},
      {"\t450", false, 0},
      {"450px", false, 0},
      {"45 0", false, 0},
      {"4.5", false, 0},
      {"\x82\x53\x82\x54\x82\x4F", false, 0},  // full-width digits
      {"0x0x5", false, 0},
      {"1e3", false, 0},
  };
  for (const auto& c : cases) {
    bool ok = !c.ok;
    int32_t value = TextToInteger(c.text, &ok);
    EXPECT_EQ(ok, c.ok) << "\"" << Visible(c.text) << "\"";
    EXPECT_EQ(value, c.value) << "\"" << Visible(c.text) << "\"";
  }
}

TEST(NumberSyntax, IntegerToText) {
  const struct {
    int32_t value;
    const char* text;
  } cases[] = {{0, "0"}, {1, "1"}, {430, "430"}, {32767, "32767"}, {-5, "-5"},
               {2147483647, "2147483647"}, {INT32_MIN, "-2147483648"}};
  for (const auto& c : cases) {
    EXPECT_EQ(IntegerToText(c.value), c.text);
  }
}

const char TooMany[] = "引数の数が多すぎます。";
const char BadFormat[] =
    "引数の形式が正しくありません。\r\n「～\\Panefix.exe 半角の数字」　と指定してください。\r\n\r\n例）　C:\\test\\Panefix.exe 450";
const char OutOfRange[] = "引数の数値が範囲外です。";

class Arguments : public DoubleTest {
 protected:
  void SetUp() override {
    DoubleTest::SetUp();
    TargetWidth = DefaultWidth;
    ProgramCaption = "Mirvel スレ幅修復ツール";
  }
};

TEST_F(Arguments, CheckArgumentsAcceptsOneWidthOrRefusesWithOneBox) {
  const struct {
    std::string commandLine;
    const char* message;  // nullptr: accepted
    int32_t width;
  } cases[] = {
      {"Panefix.exe", nullptr, 430},
      {"Panefix.exe \"\"", nullptr, 430},
      {"Panefix.exe 450", nullptr, 450},
      {"Panefix.exe\t450", nullptr, 450},
      {"\"C:\\a b\\Panefix.exe\" 450", nullptr, 450},
      {"Panefix.exe +450", nullptr, 450},
      {"Panefix.exe $1AE", nullptr, 430},
      {"Panefix.exe \" 450\"", nullptr, 450},
      {"Panefix.exe 1", nullptr, 1},
      {"Panefix.exe 32767", nullptr, 32767},
      {"Panefix.exe 0x7FFF", nullptr, 32767},
      {"Panefix.exe 450 450", TooMany, 430},
      {"Panefix.exe 45 0", TooMany, 430},
      {"Panefix.exe x y z", TooMany, 430},
      {"Panefix.exe " + std::string(4097, '1'), TooMany, 430},
      {"Panefix.exe \"450 \"", BadFormat, 430},
      {"Panefix.exe \"450 ", BadFormat, 430},
      {"Panefix.exe \"45 0\"", BadFormat, 430},
      {"Panefix.exe 450px", BadFormat, 430},
      {"Panefix.exe 4.5", BadFormat, 430},
      {"Panefix.exe \x82\x53\x82\x54\x82\x4F", BadFormat, 430},
      {"Panefix.exe 2147483648", BadFormat, 430},
      {"Panefix.exe 9999999999", BadFormat, 430},
      {"Panefix.exe $100000000", BadFormat, 430},
      {"Panefix.exe -$1", BadFormat, 430},
      {"Panefix.exe " + std::string(4096, '1'), BadFormat, 430},
      {"Panefix.exe 32768", OutOfRange, 430},
      {"Panefix.exe 0", OutOfRange, 430},
      {"Panefix.exe -0", OutOfRange, 430},
      {"Panefix.exe -5", OutOfRange, 430},
      {"Panefix.exe 2147483647", OutOfRange, 430},
      {"Panefix.exe $FFFFFFFF", OutOfRange, 430},
      {"Panefix.exe 0x8000", OutOfRange, 430},
      {"Panefix.exe " + std::string(4090, '0') + "00450", nullptr, 450},
  };
  for (const auto& c : cases) {
    SetUp();
    fake::Double.commandLine = c.commandLine;
    bool accepted = CheckArguments();
    std::string shown = Visible(c.commandLine.substr(0, 60));
    EXPECT_EQ(accepted, c.message == nullptr) << shown;
    EXPECT_EQ(TargetWidth, c.width) << shown;
    std::vector<std::string> boxes;
    if (c.message != nullptr) {
      boxes.push_back(std::string("Mirvel スレ幅修復ツール|") + c.message + "|0x10010");
    }
    EXPECT_EQ(ShownBoxes(), boxes) << shown;
  }
}

// The format message holds the characters whose code page 932 form is easiest to get wrong.
TEST_F(Arguments, FormatMessageBytes) {
  fake::Double.commandLine = "Panefix.exe abc";
  EXPECT_FALSE(CheckArguments());
  ASSERT_EQ(fake::Double.boxes.size(), 1u);
  const std::string& text = fake::Double.boxes[0].text;
  // 「～\Panefix.exe : 81 75, 81 60, then a real backslash 5C.
  EXPECT_NE(text.find("\r\n\x81\x75\x81\x60\x5CPanefix.exe \x94\xBC\x8A\x70"), std::string::npos) << Visible(text);
  // 」　と : 81 76, ideographic space 81 40, 82 C6.
  EXPECT_NE(text.find("\x81\x76\x81\x40\x82\xC6"), std::string::npos) << Visible(text);
  // 例）　C:\test\Panefix.exe 450 at the end, after an empty line.
  const std::string ending = "\r\n\r\n\x97\xE1\x81\x6A\x81\x40" "C:\x5Ctest\x5CPanefix.exe 450";
  EXPECT_EQ(Visible(text.substr(text.size() - ending.size())), Visible(ending));
  EXPECT_EQ(Visible(fake::Double.boxes[0].caption), Visible("Mirvel \x83\x58\x83\x8C\x95\x9D\x8F\x43\x95\x9C\x83\x63\x81\x5B\x83\x8B"));
}

}  // namespace
