#ifndef QUORVEX_NUMERIC_SPARE_THREADS_H
#define QUORVEX_NUMERIC_SPARE_THREADS_H

// Spare threads: threads of the run that have nothing of their own to do
// (a worker of run_in_order with no item it may take) lend themselves to a
// thread that splits a long computation into chunks, so that the last long
// items of a pass do not run on one CPU while the others sleep.
//
// One process-wide pool. A thread splits its work with run_chunks; it runs
// chunks itself and hands the others to the spare threads waiting at that
// moment. Waiting spare threads sleep on a condition variable: nothing
// spins. A thread that finds no spare thread waiting (always so with one
// thread) runs every chunk itself after one atomic load.

#include <functional>

// The number of spare threads waiting for work now (a lock-free read, which
// may be stale by the time the caller acts on it; that only changes who
// runs a chunk).
int spare_threads_waiting();

// Runs work(chunk) for chunk = 0 .. chunks-1 and returns when every chunk is
// done: on the calling thread and on any spare threads that are waiting,
// each chunk on exactly one thread, claimed in increasing order. work must
// be safe to run for different chunks at once on different threads; it must
// not print or stop the run (a spare thread's output would reach another
// item's record), and it may call run_chunks itself. An exception thrown by
// a chunk is rethrown here once every chunk has finished (the first one
// caught).
void run_chunks(int chunks, const std::function<void(int chunk)> &work);

// Makes the calling thread a spare thread until done() returns true: it runs
// chunks of other threads' run_chunks meanwhile and sleeps when there are
// none. done() is called with the pool's lock held, so it must not call
// into this module; whoever changes what done() reads must call
// spare_threads_wake() afterwards (without holding a lock done() takes).
void serve_as_spare(const std::function<bool()> &done);

// Wakes the spare threads so that they check their done() again.
void spare_threads_wake();

// Chunks run by spare threads (not by the thread that split the work)
// since the start of the process.
long long spare_chunks_run();

// `count` spare threads for the lifetime of the object (tests, benchmarks,
// a computation outside any pass): they serve until it is destroyed.
class SpareThreads {
 public:
  explicit SpareThreads(int count);
  ~SpareThreads();
  SpareThreads(const SpareThreads &) = delete;
  SpareThreads &operator=(const SpareThreads &) = delete;

 private:
  struct State;
  State *state_;
};

#endif
