#include "base/NumberText.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdio>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>

namespace orolith {
namespace {

TEST(FormatText, FixedPointAgreesWithPrintfAndUsesTheGivenSeparator) {
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> value(-20000, 20000);
  for (int i = 0; i < 3000; ++i) {
    // Values near halves of the last digit are where rounding goes wrong.
    const double v = i % 2 == 0 ? value(random) : std::round(value(random) * 8) / 8;
    const int precision = i % 7;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.*f", precision, v);
    const std::string format = "%." + std::to_string(precision) + "f";
    ASSERT_EQ(FormatText('.', format, {v}), expected) << v;
    std::string comma = expected;
    if (const auto dot = comma.find('.'); dot != std::string::npos) comma[dot] = ',';
    ASSERT_EQ(FormatText(',', format, {v}), comma) << v;
  }
  EXPECT_EQ(FormatText('.', "%.0f", {2.5}), "2");
  EXPECT_EQ(FormatText('.', "%.0f", {3.5}), "4");
  EXPECT_EQ(FormatText('.', "%.3f", {0.01F}), "0.010");
  EXPECT_EQ(FormatText('.', "%.6f", {0.001L}), "0.001000");
  EXPECT_EQ(FormatText(',', "%f", {1.5}), "1,500000");
  EXPECT_EQ(FormatText('.', "%.0f", {1e6F}), "1000000");
}

TEST(FormatText, WritesEveryRealInFullHoweverLongItIs) {
  // The largest extended real has 4933 digits before the point; with many decimals asked for
  // the text is longer than any fixed buffer would guess.
  const std::string largest = FormatText('.', "%.100f", {LDBL_MAX});
  EXPECT_EQ(largest.size(), 4933U + 1 + 100);
  EXPECT_EQ(largest.substr(0, 6), "118973");
  EXPECT_EQ(largest.substr(4933), "." + std::string(100, '0'));
  EXPECT_EQ(FormatText(',', "%.2f", {-LDBL_MAX}).size(), 1 + 4933U + 3);
}

TEST(FormatText, IntegersTextsAndErrors) {
  EXPECT_EQ(FormatText('.', "%s%.2d%s%.3d.hgt", {"S", 3, "E", 7}), "S03E007.hgt");
  EXPECT_EQ(FormatText('.', "%.2d|%.2d|%.2d", {123, -3, 0}), "123|-03|00");
  EXPECT_EQ(FormatText('.', "%d %d", {INT_MIN, LLONG_MAX}), "-2147483648 9223372036854775807");
  EXPECT_EQ(FormatText('.', "[%4d][%-4d][%04d][%5.1f]", {42, 42, -42, 2.25}),
            "[  42][42  ][-042][  2.2]");
  EXPECT_EQ(FormatText('.', "100%% %s", {std::string("done")}), "100% done");
  EXPECT_THROW(FormatText('.', "%x", {1}), std::invalid_argument);
  EXPECT_THROW(FormatText('.', "%d", {"text"}), std::invalid_argument);
  EXPECT_THROW(FormatText('.', "%s", {1.5}), std::invalid_argument);
  EXPECT_THROW(FormatText('.', "%d %d", {1}), std::invalid_argument);
  EXPECT_THROW(FormatText('.', "50%", {}), std::invalid_argument);
}

TEST(ParseNumber, AcceptsOnlyTheFieldGrammar) {
  struct Case {
    const char* text;
    char separator;
    std::optional<long double> value;
  };
  const Case cases[] = {
      {"12.5", '.', 12.5L},
      {"  -12.5  ", '.', -12.5L},
      {"+7", '.', 7.0L},
      {".", '.', 0.0L},
      {"-.", '.', 0.0L},
      {"5.", '.', 5.0L},
      {".25", '.', 0.25L},
      {"1e3", '.', 1000.0L},
      {"1.5E-2", '.', 0.015L},
      {"2e+2", '.', 200.0L},
      {"12,5", ',', 12.5L},
      {"1e-5000", '.', 0.0L},
      {"0.0001e-4990", '.', 0.0L},
      {"", '.', std::nullopt},
      {"   ", '.', std::nullopt},
      {"+", '.', std::nullopt},
      {"1e", '.', std::nullopt},
      {"1e+", '.', std::nullopt},
      {"e5", '.', std::nullopt},
      {"12,5", '.', std::nullopt},
      {"12.5", ',', std::nullopt},
      {"1.2.3", '.', std::nullopt},
      {"--1", '.', std::nullopt},
      {"1 2", '.', std::nullopt},
      {"\t1", '.', std::nullopt},
      {"0x10", '.', std::nullopt},
      {"inf", '.', std::nullopt},
      {"nan", '.', std::nullopt},
      {"1e5000", '.', std::nullopt},
      {"1e999999999999999999999", '.', std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<long double> got = ParseNumber(c.text, c.separator);
    ASSERT_EQ(got.has_value(), c.value.has_value()) << '"' << c.text << '"';
    if (got) {
      EXPECT_EQ(*got, *c.value) << '"' << c.text << '"';
    }
  }
  EXPECT_TRUE(std::signbit(*ParseNumber("-1e-6000", '.')));
  // The largest long double is still a number.
  EXPECT_EQ(ParseNumber("1.1e4932", '.').has_value(), true);
}

TEST(RoundHalfEven, RoundsHalvesToTheEvenNeighbourAndSaturates) {
  EXPECT_EQ(RoundHalfEven(2.5L), 2);
  EXPECT_EQ(RoundHalfEven(3.5L), 4);
  EXPECT_EQ(RoundHalfEven(-2.5L), -2);
  EXPECT_EQ(RoundHalfEven(100.4L), 100);
  EXPECT_EQ(RoundHalfEven(-0.6L), -1);
  EXPECT_EQ(RoundHalfEven(1e12L), INT32_MAX);
  EXPECT_EQ(RoundHalfEven(-1e12L), INT32_MIN);
  EXPECT_EQ(RoundHalfEven(NAN), 0);
}

}  // namespace
}  // namespace orolith
