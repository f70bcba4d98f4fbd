#pragma once

#include <QString>

// The test pictures kept in the repository (tests/data).
inline QString testDataDir() { return QStringLiteral(VELLUMARK_TEST_DATA_DIR); }
