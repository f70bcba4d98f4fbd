#pragma once

#include <functional>

// Work spread over threads, with every error brought back to the calling thread.
//
// runParallel runs task(0) ... task(count - 1) on up to `threads` threads, the calling thread
// included, each task exactly once, and returns when all of them have ended. A thread that the
// system will not start (a limit on the number of processes or threads) means fewer threads: the
// tasks run on those that did start, at worst all on the calling thread. An error thrown by a task
// never ends the program: the other tasks still run, every started thread is joined, and then the
// error of the lowest task index is rethrown on the calling thread.
void runParallel(int count, int threads, const std::function<void(int)>& task);

// The number of threads worth using on this machine: its cores, at least 1, at most 8.
int workerThreadCount();

// Lets buffers of 32 MiB and more go straight back to the system when freed, instead of
// staying in the heaps of the threads that freed them (which the C library otherwise does once
// it has seen such a buffer freed, and which made a run's memory creep up by tens of megabytes).
// Smaller ones (the bands' compressed bytes, the encoded files) are reused from the heaps: each
// fresh one would cost the system's clearing of its pages again. Applies to the whole process;
// called by the render pipeline before its threads start.
void returnLargeBuffersToTheSystem();

// Test hook: called before each thread is started (ThreadStart, on the starting thread) and
// before each task of a parallel job (Task, on the thread that runs it). A hook that throws
// stands for a thread the system will not start or a task that fails on a worker. Set it only
// while no parallel work runs; an empty function removes it.
enum class WorkerEvent { ThreadStart, Task };
void setWorkerTestHook(std::function<void(WorkerEvent)> hook);
void callWorkerTestHook(WorkerEvent event);
