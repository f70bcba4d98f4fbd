#include "settings/StoredPaths.h"

#include "settings/Settings.h"

#include <QDir>
#include <QFileInfo>

const QString RelativePathsKey = QStringLiteral("relative_paths");

namespace {

bool isDriveLetter(QChar c) {
  const char16_t u = c.unicode();
  return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
}

// The path with "/" separators and without "." and ".." components. In the Windows flavour both
// separators count and a UNC name keeps its two leading slashes; in the Posix flavour a "\" is a
// character of a name, as the file system has it.
QString cleanedPath(const QString& path, PathFlavour flavour) {
  QString p = path;
  if (flavour == PathFlavour::Windows)
    p.replace(u'\\', u'/');
  const bool unc = flavour == PathFlavour::Windows && p.startsWith(QLatin1String("//"));
  QString clean = QDir::cleanPath(p);
  if (unc && !clean.startsWith(QLatin1String("//")))
    clean.prepend(u'/');
  return clean;
}

}  // namespace

bool isRelativeStoredPath(const QString& path) {
  const QString p = trimBlanks(path);
  if (p.isEmpty() || p[0] == u'/' || p[0] == u'\\')
    return false;
  return !(p.size() >= 2 && isDriveLetter(p[0]) && p[1] == u':');
}

QString resolveStoredPath(const QString& stored, const QString& folder, PathFlavour flavour) {
  if (folder.isEmpty() || !isRelativeStoredPath(stored))
    return stored;
  QString relative = trimBlanks(stored);
  relative.replace(u'\\', u'/');  // a separator in a relative path on every platform
  return nativeSeparators(cleanedPath(folder + u'/' + relative, flavour), flavour);
}

std::optional<QString> relativeStoredPath(const QString& path, const QString& folder, PathFlavour flavour) {
  if (folder.isEmpty() || trimBlanks(path).isEmpty() || isRelativeStoredPath(path))
    return std::nullopt;
  const QString full = cleanedPath(trimBlanks(path), flavour);
  QString prefix = cleanedPath(folder, flavour);
  if (!prefix.endsWith(u'/'))
    prefix += u'/';
  const Qt::CaseSensitivity letterCase = flavour == PathFlavour::Windows ? Qt::CaseInsensitive : Qt::CaseSensitive;
  if (full.size() <= prefix.size() || !full.startsWith(prefix, letterCase))
    return std::nullopt;
  const QString relative = full.mid(prefix.size());
  if (flavour == PathFlavour::Posix && relative.contains(u'\\'))
    return std::nullopt;
  return relative;
}

QString settingsFolder() { return Settings().Folder(); }

QString resolvedSettingPath(const QString& stored) { return Settings().ResolvedPath(stored); }

bool relativePathsWanted() { return Settings().RelativePathsWanted(); }

QString pathToStore(const QString& path, bool relative) { return Settings().PathToStore(path, relative); }
