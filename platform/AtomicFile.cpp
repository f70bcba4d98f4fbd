#include "platform/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

AtomicWriteFailure writeFileAtomically(const QString& path, const QByteArray& bytes) {
  using Stage = AtomicWriteFailure::Stage;
  if (path.isEmpty())
    return {Stage::Create, QStringLiteral("No file name")};
  const QFileInfo info(path);
  if (info.exists() && !info.isFile())
    return {Stage::Create, QStringLiteral("Is a directory")};
  if (info.isFile()) {
    // Opening for appending changes nothing and tells whether the file may be replaced.
    QFile existing(path);
    if (!existing.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly))
      return {Stage::Create, existing.errorString()};
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
    return {Stage::Create, file.errorString()};
  qsizetype written = 0;
  while (written < bytes.size()) {
    const qint64 n = file.write(bytes.constData() + written, bytes.size() - written);
    if (n <= 0) {
      const QString reason = file.errorString();
      file.cancelWriting();
      return {Stage::Write, reason};
    }
    written += qsizetype(n);
  }
  if (!file.commit())
    return {file.error() == QFileDevice::RenameError ? Stage::Create : Stage::Write, file.errorString()};
  return {};
}
