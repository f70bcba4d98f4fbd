#include "platform/NumberText.h"

#include "platform/Blanks.h"
#include "platform/Errors.h"

#include <QLocale>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
QChar g_separatorOverride;

// For a well-formed number text in ASCII form ([-]digits[.digits][e[+-]digits]) that from_chars
// reported out of range: true when its magnitude is below 1 (an underflow), false when it is
// beyond the largest double. The decimal exponent of the first significant digit decides.
bool tooSmallForDouble(const QByteArray& ascii) {
  const char* p = ascii.constData();
  const char* end = p + ascii.size();
  if (p < end && *p == '-')
    ++p;
  long long intDigits = 0;        // digits before the decimal point
  long long firstInt = -1;        // index of the first non-zero digit there, if any
  long long firstFraction = 0;    // else its place after the point (1 for tenths)
  for (; p < end && *p != '.' && *p != 'e'; ++p, ++intDigits)
    if (firstInt < 0 && *p != '0')
      firstInt = intDigits;
  if (p < end && *p == '.')
    for (long long place = 1; ++p < end && *p != 'e'; ++place)
      if (firstInt < 0 && firstFraction == 0 && *p != '0')
        firstFraction = place;
  if (firstInt < 0 && firstFraction == 0)
    return true;  // zero never overflows
  // The power of ten of the first significant digit, before the written exponent.
  const long long power = firstInt >= 0 ? intDigits - 1 - firstInt : -firstFraction;
  long long exponent = 0;
  if (p < end && *p == 'e') {
    ++p;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-'))
      negative = *p++ == '-';
    for (; p < end; ++p)
      exponent = std::min(exponent * 10 + (*p - '0'), 1000000000LL);  // saturates: any larger is as far out
    if (negative)
      exponent = -exponent;
  }
  return power + exponent < 0;
}
}  // namespace

QChar decimalSeparator() {
  if (!g_separatorOverride.isNull())
    return g_separatorOverride;
  const QString point = QLocale::system().decimalPoint();
  return point.isEmpty() ? QChar(u'.') : point.front();
}

void setDecimalSeparatorOverride(QChar separator) { g_separatorOverride = separator; }

QString floatToText(double value) { return floatToText(value, decimalSeparator()); }

QString floatToText(double value, QChar separator) {
  if (std::isnan(value))
    return QStringLiteral("NAN");
  if (std::isinf(value))
    return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
  if (value == 0)
    return QStringLiteral("0");

  // 15 significant digits: d.dddddddddddddde[+-]xx
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", value);
  const char* p = buf;
  const bool negative = *p == '-';
  if (negative)
    ++p;
  QString digits;
  for (; *p && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9')
      digits += QChar(*p);
  const int exponent = std::atoi(p + 1);
  while (digits.size() > 1 && digits.endsWith(u'0'))
    digits.chop(1);

  QString out;
  if (negative)
    out += u'-';
  if (exponent >= -5 && exponent < 15) {
    if (exponent < 0) {
      out += u'0';
      out += separator;
      out += QString(-exponent - 1, u'0');
      out += digits;
    } else {
      const int intDigits = exponent + 1;
      if (digits.size() <= intDigits) {
        out += digits;
        out += QString(intDigits - digits.size(), u'0');
      } else {
        out += digits.left(intDigits);
        out += separator;
        out += digits.mid(intDigits);
      }
    }
  } else {
    out += digits.front();
    if (digits.size() > 1) {
      out += separator;
      out += digits.mid(1);
    }
    out += u'E';
    if (exponent < 0)
      out += u'-';
    out += QString::number(std::abs(exponent));
  }
  return out;
}

bool tryTextToFloat(const QString& text, QChar separator, double& value) {
  int i = 0;
  const int n = text.size();
  auto blank = [&](int k) { return k < n && isBlankCode(text[k]); };
  auto digit = [&](int k) { return k < n && text[k] >= u'0' && text[k] <= u'9'; };
  while (blank(i))
    ++i;
  QByteArray ascii;
  if (i < n && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-')
      ascii += '-';
    ++i;
  }
  int mantissaDigits = 0;
  while (digit(i)) {
    ascii += char(text[i++].unicode());
    ++mantissaDigits;
  }
  if (i < n && text[i] == separator) {
    ++i;
    ascii += '.';
    while (digit(i)) {
      ascii += char(text[i++].unicode());
      ++mantissaDigits;
    }
  }
  if (mantissaDigits == 0)
    return false;
  if (i < n && (text[i] == u'e' || text[i] == u'E')) {
    ascii += 'e';
    ++i;
    if (i < n && (text[i] == u'+' || text[i] == u'-'))
      ascii += char(text[i++].unicode());
    if (!digit(i))
      return false;
    while (digit(i))
      ascii += char(text[i++].unicode());
  }
  while (blank(i))
    ++i;
  if (i != n)
    return false;
  // from_chars does not depend on the C locale, which Qt sets from the environment
  const auto result = std::from_chars(ascii.constData(), ascii.constData() + ascii.size(), value);
  if (result.ec == std::errc::result_out_of_range && tooSmallForDouble(ascii)) {
    // A magnitude below the smallest double ("1e-400") is a number all the same: it reads as 0.
    value = ascii.startsWith('-') ? -0.0 : 0.0;
    return true;
  }
  return result.ec == std::errc();
}

double textToFloat(const QString& text) { return textToFloat(text, decimalSeparator()); }

void raiseNotAFloat(const QString& text) {
  throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
}

double textToFloat(const QString& text, QChar separator) {
  double value = 0;
  if (!tryTextToFloat(text, separator, value))
    raiseNotAFloat(text);
  return value;
}
