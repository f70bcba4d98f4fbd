#pragma once

// Running a piece of a test in a child process: for process-wide state (signals, resource limits),
// for several processes at once, and for permission checks, which root would pass through.
#include <QFile>
#include <QString>
#include <functional>

#ifdef Q_OS_UNIX
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <exception>

struct ChildEnd {
  bool exited = false;  // ended through exit (code), otherwise through a signal (signal)
  int code = -1;
  int signal = 0;
  bool ok() const { return exited && code == 0; }
};

// The user that permission checks are made for when the tests run as root.
constexpr uid_t kUnprivilegedId = 65534;  // nobody

inline bool testsRunAsRoot() { return ::geteuid() == 0; }

// Forks; the child runs body and exits with its result (an escaping exception gives 99). With
// unprivileged set and the tests running as root, the child first becomes the user nobody.
inline pid_t startChild(const std::function<int()>& body, bool unprivileged = false) {
  const pid_t pid = ::fork();
  if (pid != 0)
    return pid;
  int code = 98;
  if (unprivileged && testsRunAsRoot()) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedId) != 0 || ::setuid(kUnprivilegedId) != 0)
      ::_exit(97);
  }
  try {
    code = body();
  } catch (...) {
    code = 99;
  }
  ::_exit(code);
}

inline ChildEnd waitChild(pid_t pid) {
  int status = 0;
  ChildEnd end;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
    return end;
  end.exited = WIFEXITED(status);
  end.code = end.exited ? WEXITSTATUS(status) : -1;
  end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return end;
}

inline ChildEnd runInChild(const std::function<int()>& body, bool unprivileged = false) {
  return waitChild(startChild(body, unprivileged));
}

// Gives a test folder to the unprivileged user when the tests run as root, so that a child that has
// become that user may work in it; its parent folder (a temporary one of the test) is opened for
// passing through.
inline bool handToUnprivilegedUser(const QString& path) {
  if (!testsRunAsRoot())
    return true;
  const QByteArray parent = QFile::encodeName(path.section(u'/', 0, -2));
  return ::chmod(parent.constData(), 0711) == 0 &&
         ::chown(QFile::encodeName(path).constData(), kUnprivilegedId, kUnprivilegedId) == 0;
}
#endif
