// Number text: the general float format and the reader under the user's decimal separator.
#include "platform/Errors.h"
#include "platform/NumberText.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace {

TEST(NumberText, GeneralFormat) {
  const struct {
    double value;
    const char* expected;
  } cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {12, "12"},
      {140.5, "140.5"},
      {-2.5, "-2.5"},
      {100, "100"},
      {0.1, "0.1"},
      {double(0.1f), "0.100000001490116"},  // a float is written with the digits of its exact value
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},       // rounded at the 15th significant digit
      {0.000123, "0.000123"},
      {1e-5, "0.00001"},                     // the smallest magnitude in fixed notation
      {9.99e-6, "9.99E-6"},
      {1.5e-6, "1.5E-6"},
      {-1.5e-6, "-1.5E-6"},
      {1e14, "100000000000000"},
      {999999999999999, "999999999999999"},  // the largest in fixed notation
      {1e15, "1E15"},
      {9.9999999999999999e14, "1E15"},
      {123456789012345678.0, "1.23456789012346E17"},
      {double(3e20f), "3.00000006012263E20"},
      {std::numeric_limits<double>::denorm_min(), "4.94065645841247E-324"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(floatToText(c.value, u'.').toStdString(), c.expected) << c.expected;
  EXPECT_EQ(floatToText(123.456, u',').toStdString(), "123,456");
  EXPECT_EQ(floatToText(1.5e-6, u',').toStdString(), "1,5E-6");
}

TEST(NumberText, ReaderAcceptsSignDigitsOneSeparatorAndExponent) {
  const struct {
    const char* text;
    char separator;
    double expected;
  } cases[] = {
      {"12", '.', 12},         {" \t12 \r\n", '.', 12}, {"-1.5", '.', -1.5},  {"+1.5", '.', 1.5},
      {"1,5", ',', 1.5},       {".5", '.', 0.5},        {"5.", '.', 5},       {"1e3", '.', 1000},
      {"1E-3", '.', 0.001},    {"1,5e+2", ',', 150},    {"-0", '.', 0},       {"1.5E-6", '.', 1.5e-6},
      {"4.94065645841247E-324", '.', std::numeric_limits<double>::denorm_min()},
      // magnitudes below the smallest double read as 0
      {"1e-400", '.', 0},      {"-1e-400", '.', 0},     {"0.01e-323", '.', 0}, {"1,5e-999", ',', 0},
      {"123e-500", '.', 0},    {"1e-99999999999999999999", '.', 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(textToFloat(c.text, QChar(c.separator)), c.expected) << c.text;
}

TEST(NumberText, ReaderRejectsEverythingElseWithTheConvertError) {
  const struct {
    const char* text;
    char separator;
  } cases[] = {
      {"", '.'},     {" ", '.'},    {"1,5", '.'},   {"1.5", ','},  {"1 000", '.'}, {"1e", '.'},
      {"e3", '.'},   {"--1", '.'},  {"+-1", '.'},   {"- 1", '.'},  {"0x10", '.'},  {"1.2.3", '.'},
      {"INF", '.'},  {"NAN", '.'},  {"1e5.5", '.'}, {".", '.'},    {"1_0", '.'},   {"1e400", '.'},
      // beyond the largest double, however it is written
      {"10e308", '.'}, {"0.1e310", '.'}, {"-1e400", '.'}, {"1e99999999999999999999", '.'},
  };
  for (const auto& c : cases) {
    try {
      textToFloat(c.text, QChar(c.separator));
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), QStringLiteral("'%1' is not a valid floating point value").arg(c.text));
    }
  }
  double value = 7;
  EXPECT_FALSE(tryTextToFloat(QStringLiteral("\u0661"), u'.', value)) << "only ASCII digits";
}

TEST(NumberText, WrittenTextReadsBackToFifteenDigits) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> mantissa(1, 10);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (const QChar separator : {QChar(u'.'), QChar(u',')}) {
    for (int i = 0; i < 5000; ++i) {
      const double value = (i % 2 ? -1 : 1) * mantissa(random) * std::pow(10.0, exponent(random));
      const QString text = floatToText(value, separator);
      const double back = textToFloat(text, separator);
      ASSERT_NEAR(back, value, std::abs(value) * 5.1e-15) << text.toStdString();
    }
  }
}

TEST(NumberText, SeparatorOverride) {
  setDecimalSeparatorOverride(u',');
  EXPECT_EQ(decimalSeparator(), u',');
  EXPECT_EQ(floatToText(0.5), "0,5");
  EXPECT_EQ(textToFloat("0,5"), 0.5);
  setDecimalSeparatorOverride(QChar());
  EXPECT_FALSE(decimalSeparator().isNull());
}

}  // namespace
