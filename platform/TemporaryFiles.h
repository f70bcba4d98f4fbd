#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The temporary files of a whole-file write (writeFileAtomically), on every system: their names, whose
// they are, and the removal of those a killed run left. The name is the file's, the writer's process
// (its number, and on Windows its start time), a random part and ".vellumark-tmp":
// "MyApp180x180.png.4242-k3x9.vellumark-tmp", "MyApp180x180.png.32_1x9k2m4-k3x9.vellumark-tmp".

// The ending of the names of temporary files.
extern const QString TemporaryFileSuffix;

// The process that makes a temporary file: its number, and on Windows, where numbers are soon given
// to new processes, its start time as well (0 where the number alone says it).
struct TTemporaryOwner {
  qint64 Pid = 0;
  quint64 Start = 0;
  friend bool operator==(const TTemporaryOwner&, const TTemporaryOwner&) = default;
};
// This process.
TTemporaryOwner currentTemporaryOwner();

// The name of a temporary file for target made by owner: "<target>.<pid>-<random>.vellumark-tmp", with
// "_<start>" after the number when the owner has a start time.
QString temporaryFileNameFor(const QString& target, const TTemporaryOwner& owner, quint32 random);
// The process that made a temporary file of that name (its file name or full path); a Pid of 0 when the
// name carries none (a name of an older version), which counts as a process that has ended.
TTemporaryOwner temporaryFileOwner(const QString& name);

// Whether the process has ended (false while it runs, or when that cannot be told): a process of that
// number that started at another time than the owner's is another process (a Start of 0 goes by the
// number alone).
bool processEnded(const TTemporaryOwner& owner);
// Removes the file when nobody holds it open for writing (its writer locks or keeps it open); true
// when it was removed.
bool removeUnlessLocked(const QString& path);

#ifdef Q_OS_WIN
// The system's text for a Windows error code.
QString windowsErrorText(unsigned long error);
// The Windows whole-file write: the bytes to a new temporary file beside the target (held open, so
// no other process removes it), flushed to disk, then moved over the target in one step
// (MoveFileEx with replace and write-through). On failure the temporary file is removed and the
// target is unchanged; stage 1 is the file's creation or replacement, 2 the writing of its bytes.
int writeThroughTemporaryOnWindows(const QString& target, const QByteArray& bytes, QString& reason);
#endif
