#include "platform/Errors.h"

QString errorDisplayText(const QString& message) {
  if (!message.isEmpty() && message.back().unicode() > u'.')
    return message + u'.';
  return message;
}

static QString withoutFinalPeriod(QString reason) {
  while (reason.endsWith(u'.'))
    reason.chop(1);
  return reason;
}

QString cannotCreateFileMessage(const QString& path, const QString& reason, PathFlavour flavour) {
  return QStringLiteral("Cannot create file \"%1\". %2")
      .arg(nativeSeparators(path, flavour), withoutFinalPeriod(reason));
}

QString cannotOpenFileMessage(const QString& path, const QString& reason, PathFlavour flavour) {
  return QStringLiteral("Cannot open file \"%1\". %2")
      .arg(nativeSeparators(path, flavour), withoutFinalPeriod(reason));
}

QString cannotWriteFileMessage(const QString& path, const QString& reason, PathFlavour flavour) {
  return QStringLiteral("Cannot write file \"%1\". %2").arg(nativeSeparators(path, flavour), withoutFinalPeriod(reason));
}
