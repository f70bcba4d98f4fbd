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

QString cannotCreateFileMessage(const QString& path, const QString& reason) {
  return QStringLiteral("Cannot create file \"%1\". %2").arg(path, withoutFinalPeriod(reason));
}

QString cannotOpenFileMessage(const QString& path, const QString& reason) {
  return QStringLiteral("Cannot open file \"%1\". %2").arg(path, withoutFinalPeriod(reason));
}
