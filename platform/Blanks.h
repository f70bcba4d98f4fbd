#pragma once

#include <QString>
#include <QStringView>

// Blanks in the program's text rules (paths, settings lines, number lists, number text): every
// character of code 0 to 32, the blank and the control characters.
inline bool isBlankCode(QChar c) { return c.unicode() <= 32; }

// The text without leading and trailing blanks.
QString trimBlanks(QStringView text);
