#include "model/TextHelpers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <locale>
#include <optional>
#include <string>
#include <vector>

namespace {

struct NumCase {
  NumMode mode;
  std::string input;
  std::string expected;
};

const std::vector<NumCase> kIntegerCases = {
    {NumMode::Integer, " 0042x", "42"},
    {NumMode::Integer, "-7", "-7"},
    {NumMode::Integer, "-", "0"},
    {NumMode::Integer, "-0", "0"},
    {NumMode::Integer, "+5", "0"},
    {NumMode::Integer, "", "0"},
    {NumMode::Integer, "\t 12 \r\n", "12"},
    {NumMode::Integer, "12 34", "12"},
    {NumMode::Integer, "--5", "0"},
    {NumMode::Integer, "7.9", "7"},
    {NumMode::Integer, "2147483647", "2147483647"},
    {NumMode::Integer, "-2147483648", "-2147483648"},
    // Leading zeros are no overflow.
    {NumMode::Integer, "0000000000000000042", "42"},
    {NumMode::Integer, "-000000000000000", "0"},
};

const std::vector<NumCase> kDecimalCases = {
    {NumMode::Decimal, "12.50", "12.5"},
    {NumMode::Decimal, "1.2.3", "1.2"},
    {NumMode::Decimal, " -7.25kg", "-7.25"},
    {NumMode::Decimal, "3", "3"},
    {NumMode::Decimal, "abc", "0"},
    {NumMode::Decimal, "0.123456789", "0.12345679"},
    {NumMode::Decimal, "", "0"},
    {NumMode::Decimal, ".", "0"},
    {NumMode::Decimal, "-.", "0"},
    {NumMode::Decimal, ".5", "0.5"},
    {NumMode::Decimal, "-.5", "-0.5"},
    {NumMode::Decimal, "5.", "5"},
    {NumMode::Decimal, "-0", "0"},
    {NumMode::Decimal, "-0.000000001", "0"},
    {NumMode::Decimal, "1.999999999", "2"},
    {NumMode::Decimal, "00012.5000", "12.5"},
    {NumMode::Decimal, "300,5", "300"},  // a comma is no decimal separator here
    {NumMode::Decimal, "123456789012.25", "123456789012.25"},
    {NumMode::Decimal, "99999999999", "99999999999"},  // no 32-bit limit for decimals
    {NumMode::Decimal, "0.1", "0.1"},
    {NumMode::Decimal, "100.05", "100.05"},
};

void expectTable(const std::vector<NumCase>& cases) {
  for (const auto& c : cases)
    EXPECT_EQ(NormalizeNumText(c.mode, c.input), c.expected) << "input \"" << c.input << "\"";
}

TEST(NormalizeNumText, IntegerTable) { expectTable(kIntegerCases); }

TEST(NormalizeNumText, IntegerBeyond32BitsThrowsItsOwnType) {
  for (const std::string text : {"99999999999", "2147483648", "-2147483649", "12345678901234567890123", " 4294967296kg"}) {
    EXPECT_THROW(NormalizeNumText(NumMode::Integer, text), ENumberTooLong) << text;
  }
  try {
    NormalizeNumText(NumMode::Integer, "99999999999");
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    // The operator sees this text, so it names the number.
    EXPECT_NE(std::string(e.what()).find("99999999999"), std::string::npos) << e.what();
  }
}

TEST(NormalizeNumText, DecimalTable) { expectTable(kDecimalCases); }

TEST(NormalizeNumText, DecimalNeverThrowsOnHugeOrTinyRuns) {
  const std::string huge(400, '9');
  std::string out;
  ASSERT_NO_THROW(out = NormalizeNumText(NumMode::Decimal, huge));
  EXPECT_EQ(out.find('.'), std::string::npos);
  EXPECT_GT(out.size(), 300u);
  EXPECT_EQ(NormalizeNumText(NumMode::Decimal, "-" + huge).front(), '-');
  EXPECT_EQ(NormalizeNumText(NumMode::Decimal, "0." + std::string(400, '0') + "1"), "0");
}

// Restores the global C++ and C locales the test changed.
class GlobalLocaleGuard {
 public:
  GlobalLocaleGuard() : saved_(std::locale()), savedC_(std::setlocale(LC_ALL, nullptr)) {}
  ~GlobalLocaleGuard() {
    std::locale::global(saved_);
    std::setlocale(LC_ALL, savedC_.c_str());
  }

 private:
  std::locale saved_;
  std::string savedC_;
};

struct CommaDecimal : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

TEST(NormalizeNumText, DecimalResultsDoNotDependOnTheLocale) {
  GlobalLocaleGuard guard;
  bool realLocale = false;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8"}) {
    if (std::setlocale(LC_ALL, name) != nullptr) {
      realLocale = true;
      try {
        std::locale::global(std::locale(name));
      } catch (const std::runtime_error&) {
      }
      break;
    }
  }
  if (!realLocale) std::locale::global(std::locale(std::locale::classic(), new CommaDecimal));
  expectTable(kDecimalCases);
  expectTable(kIntegerCases);
  EXPECT_EQ(StrToWordRange("1234", 0, 65535), 1234);
}

TEST(PadText, CutsOrPadsToExactWidth) {
  EXPECT_EQ(PadText(true, 3, '0', "5"), "005");
  EXPECT_EQ(PadText(false, 6, ' ', "AB"), "AB    ");
  EXPECT_EQ(PadText(true, 2, '0', "1A3"), "1A");
  EXPECT_EQ(PadText(false, 2, '0', "1A3"), "1A");
  EXPECT_EQ(PadText(false, 10, '0', ""), "0000000000");
  EXPECT_EQ(PadText(true, 2, 'S', "H"), "SH");
  EXPECT_EQ(PadText(true, 4, '0', "ABCD"), "ABCD");
  EXPECT_EQ(PadText(true, 0, '0', "AB"), "");
  EXPECT_EQ(PadText(false, -3, '0', "AB"), "");
}

TEST(SplitText, Table) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitText("H2S=1,ppm", "=", 2), (V{"H2S", "1,ppm"}));
  EXPECT_EQ(SplitText("a=b=c", "=", 2), (V{"a", "b"}));
  EXPECT_EQ(SplitText(" x , y ", ",", 3), (V{"x ", "y", ""}));
  EXPECT_EQ(SplitText("", "=", 2), (V{"", ""}));
  EXPECT_EQ(SplitText("1, ppm ,H,180,0,100,extra", ",", 6), (V{"1", "ppm ", "H", "180", "0", "100"}));
  EXPECT_EQ(SplitText("a==b", "=", 3), (V{"a", "", "b"}));
  EXPECT_EQ(SplitText("=b", "=", 2), (V{"", "b"}));
  EXPECT_EQ(SplitText("a=b", "=", 1), (V{"a"}));
  EXPECT_EQ(SplitText("a=", "=", 2), (V{"a", ""}));
  EXPECT_EQ(SplitText("k::v::w", "::", 3), (V{"k", "v", "w"}));
  EXPECT_EQ(SplitText(" a=b ", "", 2), (V{"a=b", ""}));
  EXPECT_TRUE(SplitText("a=b", "=", 0).empty());
}

TEST(StrToWordRange, CutThenLimit) {
  EXPECT_EQ(StrToWordRange("70000", 1, 65535), 4464);
  EXPECT_EQ(StrToWordRange("-5", 0, 100), 100);
  EXPECT_EQ(StrToWordRange("abc", 500, 1500), 500);
  EXPECT_EQ(StrToWordRange(" 42 ", 0, 100), 42);
  EXPECT_EQ(StrToWordRange("0", 0, 100), 0);
  EXPECT_EQ(StrToWordRange("100", 0, 100), 100);
  EXPECT_EQ(StrToWordRange("101", 0, 100), 100);
  EXPECT_EQ(StrToWordRange("9", 10, 100), 10);
  EXPECT_EQ(StrToWordRange("65536", 1, 65535), 1);  // cut to 0, below the minimum
  EXPECT_EQ(StrToWordRange("1050ms", 0, 65535), 1050);
}

TEST(StrToWordRange, OverflowGivesTheMaximumInsteadOfThrowing) {
  EXPECT_EQ(StrToWordRange("99999999999", 0, 10), 10);
  EXPECT_EQ(StrToWordRange("-99999999999", 0, 10), 10);
  EXPECT_EQ(StrToWordRange("2147483648", 1, 3000), 3000);
  EXPECT_EQ(StrToWordRange(std::string(300, '7'), 5, 9), 9);
}

class CurrentFolderGuard {
 public:
  CurrentFolderGuard() : saved_(std::filesystem::current_path()) {
    if (const char* home = std::getenv("HOME")) home_ = home;
  }
  ~CurrentFolderGuard() {
    std::filesystem::current_path(saved_);
    if (home_) setenv("HOME", home_->c_str(), 1);
    else unsetenv("HOME");
  }

 private:
  std::filesystem::path saved_;
  std::optional<std::string> home_;
};

std::string makeTempFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "bd_startdir_XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  return pattern;
}

TEST(GetStartDir, CurrentFolderWithSlash) {
  CurrentFolderGuard guard;
  const std::string dir = makeTempFolder();
  ASSERT_FALSE(dir.empty());
  std::filesystem::current_path(dir);
  // The canonical name: /tmp may itself be a link.
  EXPECT_EQ(GetStartDir(), std::filesystem::current_path().string() + "/");
  std::filesystem::current_path("/");
  EXPECT_EQ(GetStartDir(), "/");
  std::filesystem::remove(dir);
}

TEST(GetStartDir, DeletedCurrentFolderFallsBackToHome) {
  CurrentFolderGuard guard;
  const std::string dir = makeTempFolder();
  ASSERT_FALSE(dir.empty());
  std::filesystem::current_path(dir);
  ASSERT_EQ(rmdir(dir.c_str()), 0);

  setenv("HOME", "/home/tester", 1);
  EXPECT_EQ(GetStartDir(), "/home/tester/");
  setenv("HOME", "/home/tester/", 1);
  EXPECT_EQ(GetStartDir(), "/home/tester/");

  // Without $HOME the password database names the home folder.
  unsetenv("HOME");
  const std::string fromPasswd = GetStartDir();
  EXPECT_EQ(fromPasswd.front(), '/');
  EXPECT_EQ(fromPasswd.back(), '/');
  EXPECT_EQ(fromPasswd.find(dir), std::string::npos);
}

TEST(WaitSeconds, WaitsAtLeastTheTimeAndKeepsCallingBack) {
  using namespace std::chrono;
  int calls = 0;
  const auto start = steady_clock::now();
  WaitSeconds(0.06f, [&] { ++calls; });
  const auto waited = steady_clock::now() - start;
  EXPECT_GE(waited, milliseconds(60));
  EXPECT_GE(calls, 2);     // the window is served over and over, not once
  EXPECT_LT(calls, 1000);  // and between the calls it sleeps instead of spinning
}

TEST(WaitSeconds, NothingToWaitReturnsAtOnceWithoutCallback) {
  int calls = 0;
  const auto count = [&] { ++calls; };
  WaitSeconds(0.0f, count);
  WaitSeconds(-3.0f, count);
  WaitSeconds(std::nanf(""), count);
  EXPECT_EQ(calls, 0);
  WaitSeconds(0.01f, nullptr);  // no message pump given
}

}  // namespace
