// The four-number list that stores a selection rectangle.
#include "platform/Errors.h"
#include "platform/NumberText.h"
#include "settings/Settings.h"
#include "tests/settings/Printing.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <gtest/gtest.h>
#include <random>

namespace {

class RectList : public testing::Test {
protected:
  void TearDown() override { setDecimalSeparatorOverride(QChar()); }
  static QString convertErrorOf(const QString& value) {
    try {
      decodeRectList(value);
    } catch (const EConvertError& e) {
      return e.Message();
    }
    return "<no error>";
  }
};

TEST_F(RectList, Encoding) {
  const struct {
    char separator;
    TRectF rect;
    const char* expected;
  } cases[] = {
      {'.', {12, 0, 140.5f, 128.5f}, "12,0,140.5,128.5"},
      {',', {12, 0, 140.5f, 128.5f}, "12,0,\"140,5\",\"128,5\""},
      {'.', {0.1f, -0.5f, 1e-6f, 3e20f}, "0.100000001490116,-0.5,9.99999997475243E-7,3.00000006012263E20"},
      {',', {-0.25f, 1e-6f, 100000, 0}, "\"-0,25\",\"9,99999997475243E-7\",100000,0"},
  };
  for (const auto& c : cases) {
    setDecimalSeparatorOverride(QChar(c.separator));
    EXPECT_EQ(encodeRectList(c.rect), QString(c.expected)) << c.expected;
  }
}

TEST_F(RectList, DecodingFourItems) {
  setDecimalSeparatorOverride(u'.');
  const TRectF expected{12, 0, 140.5f, 128.5f};
  const char* forms[] = {
      "12,0,140.5,128.5",
      "12 0 140.5 128.5",                         // blanks separate items like commas
      "  12 ,\t0 ,  140.5\r\n128.5  ",
      "\"12\",\"0\",\"140.5\",\"128.5\"",
      "12,0,140.5,\"128.5",                      // an open quote runs to the end
      "+12,-0,1.405E2,1285e-1",
  };
  for (const char* form : forms)
    EXPECT_EQ(decodeRectList(form), expected) << form;
  // a NUL character separates items as a blank does and cannot stop the scan
  EXPECT_EQ(decodeRectList(QString::fromUtf8("1\0002\0003\0004", 7)), (TRectF{1, 2, 3, 4}));
  EXPECT_EQ(decodeRectList("0.1,0,0,0")->Left, 0.1f) << "rounded to single precision";
}

TEST_F(RectList, OtherItemCountsGiveNoRectangle) {
  setDecimalSeparatorOverride(u'.');
  for (const char* value : {"", "   ", "12,0,140.5", "1,2,3,4,5", "1 2 3 4 5", "\"1,2,3,4\"", "1,2,3,\"4,5\",6"})
    EXPECT_EQ(decodeRectList(value), std::nullopt) << value;
  EXPECT_EQ(splitRectList("1,2,3,\"4,5"), (QStringList{"1", "2", "3", "4,5"})) << "an open quote runs to the end";
  EXPECT_EQ(splitRectList("1,2,3,"), (QStringList{"1", "2", "3", ""}));
  EXPECT_EQ(splitRectList("1,,2"), (QStringList{"1", "", "2"}));
  EXPECT_EQ(splitRectList("\"a\"\"b\" \"\""), (QStringList{"a\"b", ""}));
  EXPECT_EQ(splitRectList("1\"x\"2,3"), (QStringList{"1\"x\"2", "3"})) << "quotes inside an unquoted item stay";
}

TEST_F(RectList, ItemThatIsNotANumberRaisesTheConvertError) {
  setDecimalSeparatorOverride(u'.');
  EXPECT_EQ(convertErrorOf("12,0,140.5,"), "'' is not a valid floating point value");
  EXPECT_EQ(convertErrorOf("12,0,140.5,x"), "'x' is not a valid floating point value");
  EXPECT_EQ(convertErrorOf("12,0,\"140,5\",\"128,5\""), "'140,5' is not a valid floating point value");
  EXPECT_EQ(convertErrorOf("1,,2,3"), "'' is not a valid floating point value");
  // beyond single precision: refused rather than stored back as text no reader accepts
  EXPECT_EQ(convertErrorOf("1e39,0,1,1"), "'1e39' is not a valid floating point value");
  EXPECT_EQ(decodeRectList("3.4028234e38,-3.4028234e38,1e-50,0"),
            (TRectF{std::numeric_limits<float>::max(), -std::numeric_limits<float>::max(), 0, 0}));
  setDecimalSeparatorOverride(u',');
  EXPECT_EQ(decodeRectList("12,0,140,128"), (TRectF{12, 0, 140, 128}));
  EXPECT_EQ(convertErrorOf("12,0,\"140;5\",1"), "'140;5' is not a valid floating point value");
  EXPECT_EQ(convertErrorOf("12,0,\"1,5.5\",1"), "'1,5.5' is not a valid floating point value")
      << "one separator or the other, not both";
}

// A file written where the decimal separator is "." keeps its selections where it is ",".
TEST_F(RectList, PointIsReadUnderAnyDecimalSeparator) {
  for (const QChar separator : {QChar(u','), QChar(u'\u066b')}) {
    setDecimalSeparatorOverride(separator);
    EXPECT_EQ(decodeRectList("69.8964157104492,0,140.5,1.285E2"), (TRectF{69.8964157104492f, 0, 140.5f, 128.5f}));
    EXPECT_EQ(decodeRectList(encodeRectList({0.5f, 1, 2.25f, 3})), (TRectF{0.5f, 1, 2.25f, 3}))
        << "the user's own separator still reads";
  }
}

TEST_F(RectList, EveryFloatSurvivesEncodingAndDecoding) {
  std::mt19937 random(20240611);
  std::uniform_int_distribution<uint32_t> bits;
  for (const char separator : {'.', ','}) {
    setDecimalSeparatorOverride(QChar(separator));
    for (int i = 0; i < 20000; ++i) {
      float v[4];
      for (float& f : v) {
        do {
          const uint32_t b = bits(random);
          std::memcpy(&f, &b, sizeof f);
        } while (!std::isfinite(f));
      }
      const TRectF rect{v[0], v[1], v[2], v[3]};
      const QString text = encodeRectList(rect);
      const auto back = decodeRectList(text);
      ASSERT_TRUE(back.has_value()) << text.toStdString();
      ASSERT_EQ(*back, rect) << text.toStdString();
    }
  }
}

}  // namespace
