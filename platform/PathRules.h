#pragma once

#include "platform/Blanks.h"

#include <QString>

// Path rules of the base file name and the files formed from it: validity, folder part, stem,
// joining and the extension replacement of Browse. Pure text functions: nothing here touches the
// file system.
//
// The users run Windows, so the rules are Windows rules, and the Windows flavour applies them on
// every platform (and is tested everywhere with Windows examples):
//   - "\" and "/" both separate components; a ":" ends a drive ("C:") and so also ends the folder
//     part when the stem is taken;
//   - the separator right after a drive letter and colon belongs to the folder: C:\x.png -> C:\ ;
//   - joining puts "\" between folder and name, or nothing when the folder already ends in
//     "\", "/" or ":".
//
// The Posix flavour is the native flavour on Linux and the other Unix systems, so that the program
// works for a user there too:
//   - a backslash still counts as a separator when a path is split, exactly as "/" does. A user
//     who types a Windows-style path (Art\MyApp.png) gets the same folder and stem as on Windows,
//     and a path restored from a settings file written on Windows splits the same way. The price is
//     that a file name that really contains a backslash cannot be used as a base file name there;
//     such names are rare and the folder check of validation reports them plainly.
//   - ":" is an ordinary character (there are no drives); joining puts "/" between folder and name,
//     or nothing when the folder already ends in "/" or "\".
//
// In both flavours a path whose only separator is its first character ("/MyApp.png",
// "\MyApp.png") has an empty folder part, as a name without any separator has: the folder is the
// text before the last separator. Validation refuses an empty folder part, so such a name never
// reaches a generation run, where the empty folder would make the files relative to the working
// directory.
//
// Validity is the same in both flavours (Windows rules, so that a setup that validates on one
// platform validates on the other): see isValidPath.

enum class PathFlavour { Windows, Posix };

// The flavour the program uses on the platform it was built for.
constexpr PathFlavour nativePathFlavour() {
#ifdef Q_OS_WIN
  return PathFlavour::Windows;
#else
  return PathFlavour::Posix;
#endif
}

// True when a folder part can be taken from the path: it is not empty and not blanks only, it is
// shorter than 260 characters unless it begins with the extended-length prefix \\?\, and it holds
// no character a path may not hold (a control character below code 32, '"', '<', '>' or '|').
// The wildcards '*' and '?' are let through.
bool isValidPath(const QString& path);

// The folder part: the trimmed path up to, not including, its last separator; the separator stays
// when it directly follows a drive letter and colon (Windows flavour: C:\x.png -> C:\). Empty when
// the path has no separator or only a leading one (\x.png, /x.png).
QString folderOf(const QString& path, PathFlavour flavour = nativePathFlavour());

// The stem: the last component of the trimmed path (after the last separator, or the last ":" in
// the Windows flavour) without its extension, the text from its last "." on. Dots before the last
// one stay part of the stem: C:\out\my.app.png -> my.app.
QString stemOf(const QString& path, PathFlavour flavour = nativePathFlavour());

// Folder and file name joined with the flavour's separator, or with nothing between them when the
// folder is empty or already ends with a separator (or ":" in the Windows flavour).
QString joinPath(const QString& folder, const QString& name, PathFlavour flavour = nativePathFlavour());

// The path with its extension replaced: the extension is the text from the last "." that comes
// after the last separator (and, in the Windows flavour, after the last ":"); without such a "."
// the new extension is appended. C:\my.dir\app -> C:\my.dir\app.png.
QString changeFileExt(const QString& path, const QString& extension, PathFlavour flavour = nativePathFlavour());

// The path as the platform spells it in a message: the Windows flavour turns every "/" into "\"
// (C:/out/x.png -> C:\out\x.png); the Posix flavour leaves the path as it is, since a backslash is
// an ordinary character of a file name there.
QString nativeSeparators(const QString& path, PathFlavour flavour = nativePathFlavour());
