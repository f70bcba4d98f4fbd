#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// Which file a path leads to, as the system knows it. Two paths that reach the same file have the
// same identity, whatever their spelling: another name for a folder on the way, "." and "..", a
// symbolic link, a hard link, a bind mount or another drive letter for the same volume.

struct TFileIdentity {
  quint64 Device = 0;  // the device of the file system (the volume's serial number on Windows)
  quint64 Index = 0;   // the file's number on it (the inode; the file index on Windows)
  friend bool operator==(const TFileIdentity&, const TFileIdentity&) = default;
};

// The identity of the file the path leads to, links followed; nullopt when there is no file to
// reach (nothing there, a link to nothing, a folder on the way that may not be searched).
std::optional<TFileIdentity> fileIdentity(const QString& path);

// What tells one state of a file from another cheaply: its identity, size and modification time. A
// file written again (in place, or replaced by another) has another stamp, except in the rare case
// of the same size written within the clock's granularity of the modification time.
struct TFileState {
  TFileIdentity Identity;
  qint64 Size = 0;
  qint64 Modified = 0;  // milliseconds since the epoch
  friend bool operator==(const TFileState&, const TFileState&) = default;
};

// The stamp of the regular file the path leads to, links followed; nullopt when there is none.
std::optional<TFileState> fileState(const QString& path);
