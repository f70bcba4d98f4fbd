#include "platform/NumberText.h"

#include "platform/Blanks.h"
#include "platform/Errors.h"

#include <QLocale>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
QChar g_separatorOverride;
}

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
  return result.ec == std::errc();
}

double textToFloat(const QString& text) { return textToFloat(text, decimalSeparator()); }

double textToFloat(const QString& text, QChar separator) {
  double value = 0;
  if (!tryTextToFloat(text, separator, value))
    throw EConvertError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
  return value;
}
