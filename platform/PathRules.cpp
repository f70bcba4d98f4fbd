#include "platform/PathRules.h"

namespace {

constexpr qsizetype MaxPathLength = 260;

bool isSeparator(QChar c) { return c == u'\\' || c == u'/'; }

bool isDriveLetter(QChar c) {
  const char16_t u = c.unicode();
  return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z');
}

// Index of the last separator, -1 when there is none.
qsizetype lastSeparator(const QString& path) {
  for (qsizetype i = path.size() - 1; i >= 0; --i)
    if (isSeparator(path[i]))
      return i;
  return -1;
}

// Index of the last character that ends a component: a separator, or ":" in the Windows flavour.
qsizetype lastComponentEnd(const QString& path, PathFlavour flavour) {
  for (qsizetype i = path.size() - 1; i >= 0; --i)
    if (isSeparator(path[i]) || (flavour == PathFlavour::Windows && path[i] == u':'))
      return i;
  return -1;
}

// Index of the "." that starts the extension, -1 when the last component has none.
qsizetype extensionStart(const QString& path, PathFlavour flavour) {
  const qsizetype dot = path.lastIndexOf(u'.');
  return dot > lastComponentEnd(path, flavour) ? dot : -1;
}

}  // namespace

bool isValidPath(const QString& path) {
  if (trimBlanks(path).isEmpty())
    return false;
  if (path.size() >= MaxPathLength && !path.startsWith(QLatin1String("\\\\?\\")))
    return false;
  for (const QChar c : path) {
    const char16_t u = c.unicode();
    if (u < 32 || u == u'"' || u == u'<' || u == u'>' || u == u'|')
      return false;
  }
  return true;
}

QString folderOf(const QString& path, PathFlavour flavour) {
  const QString p = trimBlanks(path);
  const qsizetype sep = lastSeparator(p);
  if (sep < 0)
    return QString();
  if (flavour == PathFlavour::Windows && sep == 2 && p[1] == u':' && isDriveLetter(p[0]))
    return p.left(3);
  return p.left(sep);
}

QString stemOf(const QString& path, PathFlavour flavour) {
  const QString p = trimBlanks(path);
  const QString name = p.mid(lastComponentEnd(p, flavour) + 1);
  const qsizetype dot = name.lastIndexOf(u'.');
  return dot < 0 ? name : name.left(dot);
}

QString joinPath(const QString& folder, const QString& name, PathFlavour flavour) {
  if (folder.isEmpty())
    return name;
  const QChar last = folder.back();
  if (isSeparator(last) || (flavour == PathFlavour::Windows && last == u':'))
    return folder + name;
  return folder + (flavour == PathFlavour::Windows ? u'\\' : u'/') + name;
}

QString changeFileExt(const QString& path, const QString& extension, PathFlavour flavour) {
  const qsizetype dot = extensionStart(path, flavour);
  return (dot < 0 ? path : path.left(dot)) + extension;
}

QString nativeSeparators(const QString& path, PathFlavour flavour) {
  if (flavour != PathFlavour::Windows)
    return path;
  QString native = path;
  native.replace(u'/', u'\\');
  return native;
}
