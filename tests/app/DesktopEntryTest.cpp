// The installed desktop entry claims only what the program does: the command it starts is one the
// program accepts, and it offers to open files only if that command takes one.

#include "app/CommandLine.h"
#include "support/Paths.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

// The entry's keys of its [Desktop Entry] group.
QMap<QString, QString> desktopEntry() {
  QFile file(testDataDir() + QStringLiteral("/../../packaging/linux/vellumark.desktop"));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
  QMap<QString, QString> keys;
  bool inGroup = false;
  for (const QString& line : QString::fromUtf8(file.readAll()).split(u'\n')) {
    if (line.startsWith(u'['))
      inGroup = line.trimmed() == u"[Desktop Entry]";
    else if (const qsizetype eq = line.indexOf(u'='); inGroup && eq > 0)
      keys.insert(line.left(eq).trimmed(), line.mid(eq + 1).trimmed());
  }
  return keys;
}

TEST(DesktopEntry, StartsACommandTheProgramAccepts) {
  const auto keys = desktopEntry();
  const QStringList exec = keys.value(QStringLiteral("Exec")).split(u' ', Qt::SkipEmptyParts);
  ASSERT_FALSE(exec.isEmpty());
  EXPECT_EQ(exec.first(), "Vellumark");
  // What a file manager passes for each field code when the user opens a picture with the program.
  static const QRegularExpression fileCode(QStringLiteral("^%[fFuU]$"));
  QStringList arguments;
  bool takesFiles = false;
  for (const QString& word : exec.mid(1)) {
    if (fileCode.match(word).hasMatch()) {
      takesFiles = true;
      arguments << QStringLiteral("/home/me/pictures/logo.png");
    } else {
      arguments << word;
    }
  }
  EXPECT_NO_THROW(parseCommandLine(arguments)) << keys.value(QStringLiteral("Exec")).toStdString();
  // Picture types offered to "Open with" need a command that takes the file.
  EXPECT_TRUE(takesFiles || !keys.contains(QStringLiteral("MimeType")))
      << "MimeType=" << keys.value(QStringLiteral("MimeType")).toStdString() << " without a file in Exec";
}

}  // namespace
