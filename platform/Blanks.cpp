#include "platform/Blanks.h"

QString trimBlanks(QStringView text) {
  qsizetype first = 0;
  qsizetype last = text.size();
  while (first < last && isBlankCode(text[first]))
    ++first;
  while (last > first && isBlankCode(text[last - 1]))
    --last;
  return text.mid(first, last - first).toString();
}
