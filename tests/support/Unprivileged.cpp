#include "support/Unprivileged.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <iostream>
#include <string>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#ifdef Q_OS_UNIX
extern char** environ;

namespace {
// Set in the child: a child that is still root after dropping its rights must not fork again.
constexpr const char* ChildMark = "VELLUMARK_UNPRIVILEGED_CHILD";

// This process's environment with the given variables replaced (an empty value removes one).
std::vector<std::string> environmentWith(const std::vector<std::pair<std::string, std::string>>& changes) {
  std::vector<std::string> result;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : changes)
      replaced = replaced || entry.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced)
      result.push_back(entry);
  }
  for (const auto& [name, value] : changes)
    if (!value.empty())
      result.push_back(name + "=" + value);
  return result;
}
}  // namespace
#endif

bool rerunAsUnprivilegedUser() {
#ifndef Q_OS_UNIX
  return false;
#else
  if (geteuid() != 0)
    return false;
  if (std::getenv(ChildMark)) {
    ADD_FAILURE() << "the child process still runs as root";
    return true;
  }

  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
  uid_t uid = 65534;
  gid_t gid = 65534;
  if (const passwd* user = getpwnam("nobody")) {
    uid = user->pw_uid;
    gid = user->pw_gid;
  }

  // The child's own folder: a copy of this program, its temporary files and its runtime folder.
  QTemporaryDir home(QStringLiteral("/tmp/vellumark-unprivileged-XXXXXX"));
  if (!home.isValid()) {
    ADD_FAILURE() << "no folder for the unprivileged run: " << home.errorString().toStdString();
    return true;
  }
  const std::string homePath = home.path().toStdString();
  const std::string program = home.filePath(QStringLiteral("test-program")).toStdString();
  const std::string runtime = home.filePath(QStringLiteral("runtime")).toStdString();
  if (!QFile::copy(QCoreApplication::applicationFilePath(), QString::fromStdString(program)) ||
      chmod(program.c_str(), 0755) != 0 || mkdir(runtime.c_str(), 0700) != 0 ||
      chown(runtime.c_str(), uid, gid) != 0 || chown(homePath.c_str(), uid, gid) != 0 ||
      chmod(homePath.c_str(), 0755) != 0) {
    ADD_FAILURE() << "cannot prepare " << homePath << " for the unprivileged run";
    return true;
  }

  // Everything the child needs is made before the fork: after it, the child only changes its user
  // and starts the program.
  const std::vector<std::string> environment = environmentWith({{ChildMark, "1"},
                                                                {"TMPDIR", homePath},
                                                                {"HOME", homePath},
                                                                {"XDG_RUNTIME_DIR", runtime},
                                                                {"GTEST_OUTPUT", ""}});
  std::vector<char*> envp;
  for (const std::string& entry : environment)
    envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  char* const argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(filter.c_str()),
                        const_cast<char*>("--gtest_color=no"), nullptr};

  int out[2];
  if (pipe(out) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return true;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    close(out[0]);
    close(out[1]);
    return true;
  }
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    dup2(out[1], STDOUT_FILENO);
    dup2(out[1], STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    if (chdir(homePath.c_str()) != 0 || setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
      _exit(126);
    execve(argv[0], argv, envp.data());
    _exit(127);
  }

  close(out[1]);
  std::string output;
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n > 0)
      output.append(buffer, size_t(n));
    else if (n == 0 || errno != EINTR)
      break;
  }
  close(out[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }

  const bool exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  // A filter that matches nothing or a test that skips also exits with 0: the test must have passed.
  const bool passed = output.find("[  PASSED  ] 1 test.") != std::string::npos;
  std::cout << "[ as uid " << uid << " ]\n" << output << std::flush;
  EXPECT_TRUE(exitedCleanly && passed) << "the run as uid " << uid << " ("
                                       << (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status))
                                                             : "signal " + std::to_string(WTERMSIG(status)))
                                       << "); its output is above";
  return true;
#endif
}
