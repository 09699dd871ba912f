#include "numeric/parallel.h"

#include <sched.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "numeric/run_output.h"
#include "numeric/spare_threads.h"

int thread_count() {
  if (const char *env = std::getenv("QUORVEX_THREADS")) {
    char *end = nullptr;
    const long v = std::strtol(env, &end, 10);
    if (end != env && *end == '\0' && v > 0) return v > 1024 ? 1024 : static_cast<int>(v);
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
  const int n = CPU_COUNT(&set);
  return n > 0 ? n : 1;
}

void run_in_order(long n, int threads, long window,
                  const std::function<void(long item, int worker)> &work,
                  const std::function<void(long item)> &after,
                  const std::function<void(long item)> &before) {
  if (threads <= 1 || n <= 1) {
    // A single item still gets the other threads as spare threads for the
    // computations it splits (they change no result).
    std::unique_ptr<SpareThreads> spare;
    if (threads > 1 && n == 1) spare = std::make_unique<SpareThreads>(threads - 1);
    for (long i = 0; i < n; i++) {
      if (before) before(i);
      work(i, 0);
      if (after) after(i);
    }
    return;
  }
  if (window < threads) window = threads;
  // Threads beyond one per item serve as spare threads from the start.
  std::unique_ptr<SpareThreads> extra;
  if (threads > n) {
    extra = std::make_unique<SpareThreads>(threads - static_cast<int>(n));
    threads = static_cast<int>(n);
  }

  // Slot i % window holds item i's record from its start to its replay.
  struct Slot {
    OutputRecord record;
    bool done = false;
  };
  std::vector<Slot> slots(static_cast<size_t>(window));
  std::mutex mu;
  std::condition_variable item_done;
  long next = 0;       // next item to hand out
  long committed = 0;  // items replayed
  long running = 0;    // items handed out and not finished

  // Under mu: takes the next item when the window allows it (item >= 0), or
  // tells the worker to leave (every item handed out and finished).
  auto take = [&](long *item) {
    if (next < n && next < committed + window) {
      *item = next++;
      running++;
      return true;
    }
    *item = -1;
    return next >= n && running == 0;
  };

  // A worker that may not take an item (none left, or the window full
  // behind an unfinished item) serves as a spare thread of the items still
  // running until it may take one or every item is finished.
  auto worker_loop = [&](int worker) {
    for (;;) {
      long item;
      bool ready;
      {
        std::lock_guard<std::mutex> lock(mu);
        ready = take(&item);
      }
      if (!ready) {
        serve_as_spare([&] {
          std::lock_guard<std::mutex> lock(mu);
          return take(&item);
        });
      }
      if (item < 0) return;
      Slot &slot = slots[static_cast<size_t>(item % window)];
      capture_output(slot.record, [&] { work(item, worker); });
      const bool stopped = slot.record.stopped();
      bool last;
      {
        std::lock_guard<std::mutex> lock(mu);
        slot.done = true;
        running--;
        last = next >= n && running == 0;
      }
      item_done.notify_all();
      if (last) spare_threads_wake();
      // An item that stopped the run ends it when replayed: no item after
      // it is written, so this thread takes no more.
      if (stopped) return;
    }
  };

  std::vector<std::thread> pool;
  pool.reserve(static_cast<size_t>(threads));
  // No further item is started, the items under way are finished and every
  // worker is joined.
  auto end_workers = [&] {
    {
      std::lock_guard<std::mutex> lock(mu);
      next = n;
    }
    spare_threads_wake();  // idle workers leave once the items under way end
    for (std::thread &t : pool) t.join();
    pool.clear();
  };
  try {
    for (int t = 0; t < threads; t++) pool.emplace_back(worker_loop, t);
    for (long i = 0; i < n; i++) {
      Slot &slot = slots[static_cast<size_t>(i % window)];
      {
        std::unique_lock<std::mutex> lock(mu);
        item_done.wait(lock, [&] { return slot.done; });
      }
      // Item i ends the run: the workers are joined before its replay.
      if (slot.record.stopped()) end_workers();
      if (before) before(i);
      commit_output(slot.record);  // raises item i's stop here, if it has one
      if (after) after(i);
      {
        std::lock_guard<std::mutex> lock(mu);
        slot.record.clear();
        slot.done = false;
        committed = i + 1;
      }
      spare_threads_wake();  // a worker may wait for this slot
    }
  } catch (...) {
    // A stop raised by an item's replay, or by before or after on this
    // thread: the pass ends here, its threads joined, and the stop goes on.
    end_workers();
    throw;
  }
  for (std::thread &t : pool) t.join();
}
