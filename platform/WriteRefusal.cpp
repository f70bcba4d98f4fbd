#include "platform/WriteRefusal.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// The system's reason why no new file can be made in the folder; empty when one can.
QString newFileRefusal(const QString& folder) {
#ifdef Q_OS_UNIX
  // The final "/" makes a file in the folder's place fail as a folder on the way does: "Not a directory".
  const QByteArray name = QFile::encodeName(folder + u'/');
  if (::faccessat(AT_FDCWD, name.constData(), W_OK | X_OK, AT_EACCESS) == 0)
    return {};
  return QString::fromLocal8Bit(std::strerror(errno));
#elif defined(Q_OS_WIN)
  if (!QFileInfo(folder).isDir())
    return qt_error_string(ERROR_PATH_NOT_FOUND);
  return {};
#else
  Q_UNUSED(folder);
  return {};
#endif
}

}  // namespace

AtomicWriteFailure atomicWriteRefusal(const QString& path) {
  QString target;
  if (const AtomicWriteFailure refused = writeTargetOf(path, target))
    return refused;
  if (QFileInfo(target).isFile())
    return {};  // a file that may be replaced is written, beside it or in place
  if (const QString reason = newFileRefusal(QFileInfo(target).absolutePath()); !reason.isEmpty())
    return {AtomicWriteFailure::Stage::Create, reason};
  return {};
}
