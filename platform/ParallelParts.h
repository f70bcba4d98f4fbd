#pragma once

#include <functional>

// Runs work(0) .. work(parts - 1), each once, part 0 on the calling thread and the others on
// threads of their own (a part whose thread cannot be started runs on the calling thread instead),
// and returns when every part has ended. An error raised by any part is caught where it happens
// and, once all parts have ended, the error of the lowest-numbered failing part is raised to the
// caller; nothing is left running and nothing ends the process.
void runInParts(int parts, const std::function<void(int part)>& work);
