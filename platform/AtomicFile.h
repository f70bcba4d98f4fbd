#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Writing a whole file so that it is never seen half-written.
//
// The bytes go to a temporary file in the same folder, which replaces the file of that name only
// once every byte is written: on any failure the previous file is unchanged and no temporary file
// is left, and a reader at the same moment sees either the old or the new file. Every write is
// checked, so a short write (disk full, size limit) is seen at once. An existing file that may not
// be replaced (read-only, locked) is refused with the system's own reason, although a rename could
// replace it. The temporary file has no name while it is written where the file system allows it;
// elsewhere its name is the file's, a process number and ".vellumark-tmp", and a killed run's are
// removed by removeLeftoverTemporaryFiles.
//
// A link in the file's place is followed: the file it leads to is replaced when it is a regular
// file; a link to nothing is refused (danglingLinkReason), as is a link to a folder or a pipe.
//
// A writable file in a folder where no temporary file may be made (a read-only folder) is written
// in place instead: room for the new content is reserved first, so a full disk or a size limit is
// found before any old byte changes, and every write is checked. A copy of the old bytes is kept
// in the user's runtime folder until the new ones are all on disk: a write that fails puts them
// back at once, and one that a kill interrupts is rolled back by recoverInterruptedWrites.
//
// Anything that is not a regular file in the file's place (a folder, a named pipe, a socket, a
// device) is refused with what it is, without opening it, so nothing ever waits on a pipe.
struct AtomicWriteFailure {
  enum class Stage {
    None,    // the file was written
    Create,  // the file could not be created or replaced
    Write,   // writing the bytes failed after the file was created
  };
  Stage stage = Stage::None;
  QString reason;  // the system's description of the cause
  explicit operator bool() const { return stage != Stage::None; }
};

AtomicWriteFailure writeFileAtomically(const QString& path, const QByteArray& bytes);

// The first steps of writeFileAtomically, which change nothing: target becomes the file the write
// would change (a link in the path's place followed), and the result is the refusal of what stands
// there (a link to nothing, anything but a regular file, an existing file that may not be replaced),
// or Stage None when the write would go on.
AtomicWriteFailure writeTargetOf(const QString& path, QString& target);

// The reason given for a link that leads to nothing: "It is a link to <target>, which does not exist".
QString danglingLinkReason(const QString& target);

// Removes the temporary files that writes of killed runs left in the folder: only files named as
// writeFileAtomically names them, and only those whose process has ended and that nobody holds
// locked. Returns how many were removed.
int removeLeftoverTemporaryFiles(const QString& folder);
// True for a name that writeFileAtomically gives its temporary files.
bool isTemporaryFileName(const QString& name);

// Settles every in-place write of this user that a kill interrupted (only those whose writer no
// longer runs): the file gets its old bytes back only while it is still the half-written file of
// that write; a file written since, replaced, or missing keeps what it holds and the journal is
// discarded, as is a journal of an older form, which cannot tell. A journal whose old bytes cannot
// be put back stays for the next time. Journals that a kill left half-made are removed. Called by a
// start that may write files (the window, a run that is no dry run); returns how many were rolled back.
int recoverInterruptedWrites();

// The user's runtime folder ($XDG_RUNTIME_DIR, or a folder of the user's own in the temporary
// folder), for locks and copies that cannot lie beside their file; empty when none can be made.
QString userRuntimeFolder();
// True when new files may be made in the folder.
bool folderTakesNewFiles(const QString& folder);

// Test hook: called halfway through the new bytes of an in-place write (a test kills the process
// there). An empty function removes it.
void setInPlaceWriteTestHook(std::function<void()> hook);

// The reason given for something in a file's place that is not a regular file ("Is a directory",
// "Is a named pipe", ...); empty for a regular file or when nothing is there.
QString notARegularFileReason(const QString& path);

// The file a write to the path would change, as one canonical path: links followed to the file they
// name; for a file that does not exist yet, the canonical folder joined with the name. Two paths
// that lead to the same file give the same text. Empty when the folder does not exist.
QString canonicalTarget(const QString& path);

// A write beyond the process's file size limit then fails with the write error of its caller instead
// of ending the program through SIGXFSZ. Called once at start-up.
void ignoreFileSizeLimitSignal();

// A write to a closed pipe (standard output read by "head", say) then fails with EPIPE instead of
// ending the program through SIGPIPE. Called once at start-up.
void ignoreBrokenPipeSignal();
