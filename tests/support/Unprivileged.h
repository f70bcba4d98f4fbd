#pragma once

// Permission bits do not stop root, and CI runs the tests as root. A test of read-only or
// unreadable files and folders therefore begins with
//
//   RUN_AS_UNPRIVILEGED_USER();
//
// Run by root, the current test then runs again, whole (fixture set-up and tear-down included), in
// a child process of this test program under the unprivileged user "nobody" (uid 65534 when the
// system has no such user), and the child's outcome becomes this test's outcome: the test fails
// unless the child ran that one test and it passed. The root process does nothing more in the
// test. Run by any other user, the macro does nothing and the test goes on as written.
//
// The child runs a copy of this program from a fresh folder under /tmp that it owns, with TMPDIR
// and HOME pointing there, so it needs nothing from the build tree or root's folders.
bool rerunAsUnprivilegedUser();

#define RUN_AS_UNPRIVILEGED_USER() \
  do {                             \
    if (rerunAsUnprivilegedUser()) \
      return;                      \
  } while (0)
