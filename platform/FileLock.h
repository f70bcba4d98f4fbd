#pragma once

#include <QString>

// A lock held on an open file: the system's own lock (flock on Unix, LockFileEx on Windows), so it
// ends with the process that holds it, however that process ends. The lock file is made when it is
// missing; an empty or unreadable one left by a killed process is simply locked again. Unlocking
// removes the file while it is still held, so the next holder makes a new one.
class TFileLock {
public:
  TFileLock() = default;
  ~TFileLock();
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;

  enum class Outcome { Locked, Busy, Failed };
  // One attempt, without waiting: Locked, Busy when another open file holds it (in this process or
  // another), Failed when the file cannot be made or opened (the system's reason in reason()).
  Outcome TryLock(const QString& path);
  void Unlock();
  bool IsLocked() const { return FLocked; }
  const QString& Reason() const { return FReason; }

private:
  QString FPath;
  QString FReason;
  bool FLocked = false;
#ifdef Q_OS_WIN
  void* FHandle = nullptr;
#else
  int FFd = -1;
#endif
};
