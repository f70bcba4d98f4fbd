#pragma once

#include <QString>

// Folders the tests read from.
inline QString sharedDir() { return QStringLiteral(VELLUMARK_SHARED_DIR); }
inline QString corpusDir() { return sharedDir() + QStringLiteral("/corpus"); }
inline QString benchDir() { return sharedDir() + QStringLiteral("/bench"); }
