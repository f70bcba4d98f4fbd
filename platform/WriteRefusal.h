#pragma once

#include "platform/AtomicFile.h"

#include <QString>

// What writeFileAtomically would refuse at a path before it writes a byte, found without making or
// changing anything (a dry run asks it for every file a run would write):
//   - a link in the file's place that leads to nothing (danglingLinkReason);
//   - something in the file's place, or where a link leads, that is not a regular file: a folder, a
//     named pipe, a socket, a device (notARegularFileReason);
//   - an existing file that may not be replaced (read-only, locked): the system's reason;
//   - for a new file, a folder that is not there, is no folder, or takes no new file: the system's
//     reason, as creating the file there gives it.
// Stage Create with the reason, or Stage None when the write would start. What only the write itself
// can meet (a full disk, a size limit) is not foreseen.
AtomicWriteFailure atomicWriteRefusal(const QString& path);
