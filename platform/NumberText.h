#pragma once

#include <QChar>
#include <QString>

// Number text under the user's number format.
//
// floatToText: the general format. The value is rounded to at most 15 significant digits;
// trailing zeros and a trailing decimal separator are removed; fixed notation for magnitudes from
// 0.00001 up to below 10^15 (0 is "0"), scientific notation ("1.5E-6", "1E15") otherwise; a
// leading "-" for negative values; the user's decimal separator; no digit grouping. A float is
// widened exactly before formatting, so 0.1f is written 0.100000001490116.
//
// textToFloat: optional blanks, optional sign, digits with at most one decimal separator (the
// user's), at least one digit, optional exponent (E or e, optional sign, digits), optional blanks.
// A magnitude too small for a double reads as 0; one too large for it is refused. Anything else
// raises EConvertError "'<text>' is not a valid floating point value".

// The decimal separator in force: the user's locale, unless a test has set an override.
QChar decimalSeparator();
void setDecimalSeparatorOverride(QChar separator);  // QChar() removes the override

QString floatToText(double value);
QString floatToText(double value, QChar separator);

double textToFloat(const QString& text);
double textToFloat(const QString& text, QChar separator);
// Raises the error of a text that is not a number.
[[noreturn]] void raiseNotAFloat(const QString& text);
// As textToFloat, false instead of an error.
bool tryTextToFloat(const QString& text, QChar separator, double& value);
