#include "frontpanel/TSystem.h"

#include "support/Scoped.h"

#include <gtest/gtest.h>

#include <locale.h>

#include <clocale>
#include <regex>
#include <string>
#include <vector>

namespace orolith {
namespace {

std::string Find(std::vector<const char*> args, const char* key, bool caseSensitive) {
  args.insert(args.begin(), "orolith");
  return FindCommandLineKey(args, key, caseSensitive);
}

TEST(FindCommandLineKey, FindsTheTextAfterTheKeyInTheFirstArgumentHoldingIt) {
  EXPECT_EQ(Find({"a.txt", "DataRoot=D:\\x"}, "DataRoot=", true), "D:\\x");
  EXPECT_EQ(Find({"dataroot=d:\\x"}, "DataRoot=", false), "D:\\X");
  EXPECT_EQ(Find({"dataroot=d:\\x"}, "DataRoot=", true), "");
  EXPECT_EQ(Find({"DataRoot=", "DataRoot=E:\\y"}, "DataRoot=", true), "");
  EXPECT_EQ(Find({"OldDataRoot=F:\\z"}, "DataRoot=", true), "F:\\z");
  EXPECT_EQ(Find({"OldDataRoot=F:\\z"}, "DataRoot=", false), "F:\\Z");
  EXPECT_EQ(Find({}, "DataRoot=", false), "");
  EXPECT_EQ(Find({"x=DataRoot=a DataRoot=b"}, "DataRoot=", true), "a DataRoot=b");
  EXPECT_EQ(Find({"DataRoot=\xE4/\xC4"}, "dataroot=", false), "\xE4/\xC4");  // only a..z change
  EXPECT_EQ(Find({"anything"}, "", true), "");
  // Arguments and keys far beyond the old fixed copies are searched whole.
  const std::string longArgument = std::string(400, 'x') + "DataRoot=" + std::string(300, 'y');
  EXPECT_EQ(Find({longArgument.c_str()}, "DataRoot=", true), std::string(300, 'y'));
  const std::string longKey(60, 'k');
  const std::string holder = "a" + longKey + "v";
  EXPECT_EQ(Find({holder.c_str()}, longKey.c_str(), true), "v");
}

TEST(FindCommandLineValue, MatchesTheKeyInAnyCaseButKeepsTheValueAsTyped) {
  const char* args[] = {"orolith", "--x", "dataROOT=/home/Maps/", "DataRoot=/other"};
  EXPECT_EQ(FindCommandLineValue(args, "DataRoot="), "/home/Maps/");
  EXPECT_EQ(FindCommandLineValue({args, 2}, "DataRoot="), "");
}

TEST(RangeHelpers, ClampOrTestAgainstBoundsGivenInEitherOrder) {
  EXPECT_EQ(ClampInt(5, 10, 1), 5);
  EXPECT_EQ(ClampInt(12, 10, 1), 10);
  EXPECT_EQ(ClampInt(-3, 10, 1), 1);
  EXPECT_EQ(ClampInt(-3, 1, 10), 1);
  EXPECT_TRUE(InRangeFloat(1, 1, 0));
  EXPECT_TRUE(InRangeFloat(0, 1, 0));
  EXPECT_FALSE(InRangeFloat(1.5L, 0, 1));
  EXPECT_FALSE(InRangeFloat(-0.0001L, 0, 1));
  EXPECT_EQ(ClampFloat(-0.2L, 0, 1), 0);
  EXPECT_EQ(ClampFloat(0.25L, 1, 0), 0.25L);
  EXPECT_EQ(ClampFloat(7, 1, 0), 1);
}

bool Matches(const std::string& text, const char* pattern) {
  return std::regex_match(text, std::regex(pattern));
}

TEST(DateAndTime, FollowTheEnvironmentsLocaleWithoutChangingTheProcessLocale) {
  {
    const test::ScopedEnvironment all("LC_ALL", "C");
    EXPECT_TRUE(Matches(CurrentDateString(), R"(\d\d/\d\d/\d\d)")) << CurrentDateString();
    EXPECT_TRUE(Matches(CurrentTimeString(), R"(\d\d:\d\d:\d\d)")) << CurrentTimeString();
    EXPECT_EQ(EnvironmentDecimalSeparator(), '.');
  }
  for (const char* name : {"de_DE.UTF-8", "en_US.UTF-8"}) {
    const locale_t installed = ::newlocale(LC_ALL_MASK, name, nullptr);
    if (installed == nullptr) {
      GTEST_SKIP() << "the locale " << name << " is not installed (./build.sh deps makes it)";
    }
    ::freelocale(installed);
  }
  {
    const test::ScopedEnvironment all("LC_ALL", "de_DE.UTF-8");
    EXPECT_TRUE(Matches(CurrentDateString(), R"(\d\d\.\d\d\.\d{4})")) << CurrentDateString();
    EXPECT_TRUE(Matches(CurrentTimeString(), R"(\d\d:\d\d:\d\d)")) << CurrentTimeString();
    EXPECT_EQ(EnvironmentDecimalSeparator(), ',');
  }
  {
    const test::ScopedEnvironment all("LC_ALL", "");
    const test::ScopedEnvironment time("LC_TIME", "en_US.UTF-8");
    const test::ScopedEnvironment numbers("LC_NUMERIC", "de_DE.UTF-8");
    EXPECT_TRUE(Matches(CurrentTimeString(), R"(\d\d:\d\d:\d\d [AP]M)")) << CurrentTimeString();
    EXPECT_EQ(EnvironmentDecimalSeparator(), ',');
  }
  EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}

}  // namespace
}  // namespace orolith
