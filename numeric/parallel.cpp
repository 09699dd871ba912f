#include "numeric/parallel.h"

#include <sched.h>

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "numeric/run_output.h"

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
    for (long i = 0; i < n; i++) {
      if (before) before(i);
      work(i, 0);
      if (after) after(i);
    }
    return;
  }
  if (window < threads) window = threads;
  if (threads > n) threads = static_cast<int>(n);

  // Slot i % window holds item i's record from its start to its replay.
  struct Slot {
    OutputRecord record;
    bool done = false;
  };
  std::vector<Slot> slots(static_cast<size_t>(window));
  std::mutex mu;
  std::condition_variable item_done, slot_free;
  long next = 0;       // next item to hand out
  long committed = 0;  // items replayed

  auto worker_loop = [&](int worker) {
    for (;;) {
      long item;
      {
        std::unique_lock<std::mutex> lock(mu);
        slot_free.wait(lock, [&] { return next >= n || next < committed + window; });
        if (next >= n) return;
        item = next++;
      }
      Slot &slot = slots[static_cast<size_t>(item % window)];
      capture_output(slot.record, [&] { work(item, worker); });
      const bool stopped = slot.record.stop_status >= 0;
      {
        std::lock_guard<std::mutex> lock(mu);
        slot.done = true;
      }
      item_done.notify_all();
      // An item that stopped the run ends it when replayed; this thread takes
      // no more items, so that what the stopped item holds stays as it was
      // left (reachable, not overwritten by a later item) until the exit.
      if (stopped) return;
    }
  };

  std::vector<std::thread> pool;
  pool.reserve(static_cast<size_t>(threads));
  for (int t = 0; t < threads; t++) pool.emplace_back(worker_loop, t);

  for (long i = 0; i < n; i++) {
    Slot &slot = slots[static_cast<size_t>(i % window)];
    {
      std::unique_lock<std::mutex> lock(mu);
      item_done.wait(lock, [&] { return slot.done; });
    }
    if (slot.record.stop_status >= 0) {
      // Item i ends the run. No further item is started and the items under
      // way are finished, so that no thread works while the process exits.
      {
        std::lock_guard<std::mutex> lock(mu);
        next = n;
      }
      slot_free.notify_all();
      for (std::thread &t : pool) t.join();
      pool.clear();
    }
    if (before) before(i);
    commit_output(slot.record);  // ends the run here if item i stopped it
    if (after) after(i);
    {
      std::lock_guard<std::mutex> lock(mu);
      slot.record.clear();
      slot.done = false;
      committed = i + 1;
    }
    slot_free.notify_all();
  }
  for (std::thread &t : pool) t.join();
}
