#pragma once

#include "platform/PathRules.h"

#include <QString>
#include <optional>

// The file paths kept in the settings file (each group's picture, the base file name), so that a
// settings file kept with a project works wherever the project lies, whatever the current folder.
//
// Reading: a relative path is taken relative to the folder of the settings file; an absolute path is
// used as it is. A path counts as absolute when it begins with a separator ("/", "\", "\\server")
// or with a drive letter and ":" (C:\work\x.png, C:x.png) in both flavours: a Windows path read on
// Linux is not guessed at, it names no file there and is reported missing as it always was. Both
// separators are read in a relative path on every platform, so art\pics\logo.png and
// art/pics/logo.png name the same file on Windows and on Linux. The full path is cleaned ("." and
// ".." components taken out) and spelled with the platform's separators.
//
// Storing, when the user asks for it (key "relative_paths" of section "settings", "1"): a path that
// lies under the settings file's folder is stored relative to it with "/" separators, so that the
// file reads the same on Windows and Linux; any other path is stored in full.

// The key of the choice in section "settings": "1" stores paths relative to the settings file.
extern const QString RelativePathsKey;

// True when the path counts as relative (see above; the same in both flavours); blanks around it
// are ignored.
bool isRelativeStoredPath(const QString& path);

// The full path a stored path names, for a settings file in that folder: a relative path joined to
// the folder; an absolute one, an empty one and any path when the folder is empty, unchanged.
QString resolveStoredPath(const QString& stored, const QString& folder, PathFlavour flavour = nativePathFlavour());

// The path relative to the folder with "/" separators, when it is a full path under that folder
// (letter case ignored in the Windows flavour); nullopt otherwise. In the Posix flavour a path whose
// part below the folder holds a "\" stays full, since reading would take that "\" for a separator.
std::optional<QString> relativeStoredPath(const QString& path, const QString& folder,
                                          PathFlavour flavour = nativePathFlavour());

// Over the process's settings file (Settings(); a TSettingsStore has the same for its own file):

// Its folder; empty when there is no settings file path.
QString settingsFolder();
// The full path that a path stored in it, or typed to be stored, names.
QString resolvedSettingPath(const QString& stored);
// Whether the user asked for relative paths (a read of "relative_paths").
bool relativePathsWanted();
// The text to store for a path: relative to the settings file's folder when relative is true and the
// path lies under it, else the full path it names.
QString pathToStore(const QString& path, bool relative);
