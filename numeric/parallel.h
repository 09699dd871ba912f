#ifndef QUORVEX_NUMERIC_PARALLEL_H
#define QUORVEX_NUMERIC_PARALLEL_H

// Threads of a run: how many, and the ordered pass that runs items side by
// side while their output reaches the files in item order.

#include <functional>

// The number of CPUs in the process's affinity mask (taskset, cgroups and
// batch schedulers set it), at least 1. The environment variable
// QUORVEX_THREADS, when it holds a positive number, is used instead: the
// tests run the same data on one thread and on several with it.
int thread_count();

// Runs work(item, worker) for item = 0 .. n-1 on `threads` worker threads
// (worker in 0 .. threads-1), each item inside an output capture, and
// replays the items' records in item order on the calling thread as they
// complete, calling before(item) and after(item) (when given) just before
// and just after item's record is replayed.
// A worker takes item i only when fewer than `window` items (i included)
// wait to be replayed. An item that stops the run (run_stop.h) raises its
// stop when its record is replayed, after every earlier item's, as on one
// thread; the worker that ran it takes no further items, and before the
// replay no new item is started, the items under way are finished and every
// worker is joined. A stop raised by before or after leaves the same way:
// run_in_order returns only with every one of its threads joined.
//
// A worker that may take no item (none left, or the window full behind an
// unfinished one) serves meanwhile as a spare thread (spare_threads.h) of
// the items still running, which may split their integrations with it.
//
// With threads <= 1 (or n <= 1) the items run one after another on the
// calling thread without any capture (before, work, after): exactly the
// one-thread order of work; a single item with threads > 1 has the other
// threads - 1 as spare threads, and so do fewer items than threads have the
// threads beyond one per item.
void run_in_order(long n, int threads, long window,
                  const std::function<void(long item, int worker)> &work,
                  const std::function<void(long item)> &after = nullptr,
                  const std::function<void(long item)> &before = nullptr);

#endif
