#pragma once

#include <QByteArray>
#include <QString>

// Writing a whole file so that it is never seen half-written.
//
// The bytes go to a temporary file in the same folder, which replaces the file of that name only
// once every byte is written: on any failure the previous file is unchanged and no temporary file
// is left, and a reader at the same moment sees either the old or the new file. The temporary file
// is unbuffered, so a short write (disk full, size limit) is seen at once rather than lost in a
// final flush. An existing file that may not be replaced (read-only, locked) is refused with the
// system's own reason, although a rename could replace it.
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
