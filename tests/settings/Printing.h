#pragma once

#include "platform/Types.h"

#include <QByteArray>
#include <QString>
#include <ostream>

// Readable failure output for the types these tests compare.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QByteArray& bytes, std::ostream* os) { *os << '"' << bytes.toStdString() << '"'; }
inline void PrintTo(const TRectF& r, std::ostream* os) {
  *os << '(' << r.Left << ", " << r.Top << ", " << r.Right << ", " << r.Bottom << ')';
}
