// Spare threads: chunks of a split computation run exactly once each, on
// the caller alone when nobody is spare, on waiting spare threads otherwise;
// the workers of an ordered pass lend themselves to the items still running
// without deadlock, and idle spare threads sleep.

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "numeric/parallel.h"
#include "numeric/run_output.h"
#include "numeric/spare_threads.h"
#include "support/death_tests.h"

namespace {

// Waits (up to a few seconds) until `count` spare threads wait.
bool AwaitSpare(int count) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (spare_threads_waiting() < count) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Busy work of about `us` microseconds, so that chunks overlap in time.
void Busy(int us) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
  while (std::chrono::steady_clock::now() < until) {
  }
}

double CpuSeconds() {
  rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + 1e-6 * (u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

TEST(SpareThreads, WithoutSpareThreadsTheCallerRunsEveryChunkInOrder) {
  ASSERT_EQ(spare_threads_waiting(), 0);
  std::vector<int> order;
  const long long off0 = spare_chunks_run();
  const std::thread::id caller = std::this_thread::get_id();
  run_chunks(5, [&](int c) {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    order.push_back(c);
  });
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(spare_chunks_run(), off0);
  run_chunks(0, [&](int) { ADD_FAILURE() << "no chunk to run"; });
}

TEST(SpareThreads, EveryChunkRunsOnceAndWaitingThreadsTakeSome) {
  SpareThreads spare(3);
  ASSERT_TRUE(AwaitSpare(3));
  const std::thread::id caller = std::this_thread::get_id();
  for (int chunks : {1, 2, 4, 9}) {
    std::vector<std::atomic<int>> runs(static_cast<size_t>(chunks));
    std::mutex mu;
    std::set<std::thread::id> threads;
    long long elsewhere = 0;
    const long long off0 = spare_chunks_run();
    // The caller's chunks wait (up to 10 s) until a spare thread has started
    // one, so that a loaded machine, where a waiting thread may take longer
    // than a chunk to wake, still shows the hand-off.
    std::atomic<int> started_elsewhere{0};
    run_chunks(chunks, [&](int c) {
      if (std::this_thread::get_id() != caller) {
        started_elsewhere++;
      } else if (chunks > 1) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (started_elsewhere.load() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
      }
      Busy(2000);
      runs[static_cast<size_t>(c)]++;
      std::lock_guard<std::mutex> lock(mu);
      threads.insert(std::this_thread::get_id());
      if (std::this_thread::get_id() != caller) elsewhere++;
    });
    for (int c = 0; c < chunks; c++) EXPECT_EQ(runs[static_cast<size_t>(c)].load(), 1) << chunks;
    const long long off = spare_chunks_run() - off0;
    EXPECT_EQ(off, elsewhere);
    if (chunks > 1) {
      EXPECT_GT(off, 0) << chunks << " chunks all ran on the caller";
      EXPECT_GT(threads.size(), 1u);
    } else {
      EXPECT_EQ(off, 0);
    }
    ASSERT_TRUE(AwaitSpare(3));
  }
}

TEST(SpareThreads, ExceptionOfAChunkReachesTheCallerAfterEveryChunk) {
  SpareThreads spare(2);
  ASSERT_TRUE(AwaitSpare(2));
  std::atomic<int> finished{0};
  try {
    run_chunks(6, [&](int c) {
      Busy(1000);
      finished++;
      if (c == 2) throw std::runtime_error("chunk 2");
    });
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error &e) {
    EXPECT_EQ(std::string(e.what()), "chunk 2");
  }
  EXPECT_EQ(finished.load(), 6);
}

// Several threads split their work at once, some chunks splitting again:
// every sum exact, every call returns.
TEST(SpareThreads, ManyConcurrentSplitsAndNestedOnes) {
  SpareThreads spare(3);
  ASSERT_TRUE(AwaitSpare(3));
  const int kCallers = 5, kCalls = 40;
  std::vector<long long> totals(kCallers, 0);
  std::vector<std::thread> callers;
  for (int t = 0; t < kCallers; t++)
    callers.emplace_back([&, t] {
      for (int k = 0; k < kCalls; k++) {
        std::atomic<long long> sum{0};
        run_chunks(4 + k % 5, [&](int c) {
          if (c == 1) {
            run_chunks(3, [&](int d) { sum += 100 * (d + 1); });
          } else {
            Busy(50);
            sum += c;
          }
        });
        totals[static_cast<size_t>(t)] += sum;
      }
    });
  for (std::thread &c : callers) c.join();
  // Chunks 0, 2 .. n-1 add their number, chunk 1 adds 100 + 200 + 300.
  long long expect = 0;
  for (int k = 0; k < kCalls; k++) {
    const int n = 4 + k % 5;
    expect += n * (n - 1) / 2 - 1 + 600;
  }
  for (int t = 0; t < kCallers; t++) EXPECT_EQ(totals[static_cast<size_t>(t)], expect);
}

// Waiting spare threads sleep: they use almost no CPU time.
TEST(SpareThreads, IdleSpareThreadsSleep) {
  SpareThreads spare(4);
  ASSERT_TRUE(AwaitSpare(4));
  // One split first, so that they have just worked (and watch a little).
  run_chunks(5, [](int) { Busy(200); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const double cpu0 = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(CpuSeconds() - cpu0, 0.05);
}

// The workers of an ordered pass that have no item to take help the items
// still running: item 0 is long and splits its work many times while the
// other items finish (and, with a small window, while the workers wait for
// item 0's replay). Every item's output arrives in order, every split sum
// is exact, and chunks ran on other threads.
TEST(SpareThreads, WorkersOfAnOrderedPassHelpTheItemsStillRunning) {
  for (long window : {4L, 64L}) {
    const long n = 12;
    std::vector<long long> sums(static_cast<size_t>(n), 0);
    std::vector<long> after;
    const long long off0 = spare_chunks_run();
    testing::internal::CaptureStdout();
    run_in_order(
        n, 4, window,
        [&](long item, int) {
          const int splits = item == 0 ? 200 : 2;
          long long total = 0;
          for (int s = 0; s < splits; s++) {
            std::atomic<long long> sum{0};
            run_chunks(4, [&](int c) {
              Busy(100);
              sum += c + 1;
            });
            total += sum;
          }
          sums[static_cast<size_t>(item)] = total;
          run_print("item %ld\n", item);
        },
        [&](long item) { after.push_back(item); });
    const std::string out = testing::internal::GetCapturedStdout();
    std::string expect;
    for (long i = 0; i < n; i++) expect += "item " + std::to_string(i) + "\n";
    EXPECT_EQ(out, expect) << window;
    for (long i = 0; i < n; i++) {
      EXPECT_EQ(sums[static_cast<size_t>(i)], (i == 0 ? 200 : 2) * 10) << i;
      EXPECT_EQ(after[static_cast<size_t>(i)], i);
    }
    EXPECT_GT(spare_chunks_run() - off0, 0) << window;
    EXPECT_EQ(spare_threads_waiting(), 0) << "a worker still serves after the pass";
  }
}

// A run that stops while the other workers sleep as spare threads ends
// with the stop's status (exit must not wait for the sleepers).
TEST(SpareThreadsDeathTest, StopWhileWorkersSleepAsSpareThreads) {
  EXPECT_EXIT(
      run_to_exit([&] {
        // Items 1 and 2 finish; their workers wait for item 0's replay to
        // free the window, asleep as spare threads.
        run_in_order(10, 3, 3, [](long item, int) {
          if (item == 0) {
            AwaitSpare(2);
            end_run(4);
          }
        });
        std::exit(0);
      }),
      ::testing::ExitedWithCode(4), "");
}

// A pass of one item on several threads still offers the others as spare
// threads, and runs the item on the calling thread.
TEST(SpareThreads, OneItemPassOffersTheOtherThreads) {
  const long long off0 = spare_chunks_run();
  const std::thread::id caller = std::this_thread::get_id();
  run_in_order(1, 4, 4, [&](long, int) {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    ASSERT_TRUE(AwaitSpare(3));
    run_chunks(4, [](int) { Busy(2000); });
  });
  EXPECT_GT(spare_chunks_run() - off0, 0);
  EXPECT_EQ(spare_threads_waiting(), 0);
}

// A pass of fewer items than threads offers the threads beyond one per item
// as spare threads from the start: while item 0 runs, the 3 threads without
// an item and item 1's worker, once it is done, serve it.
TEST(SpareThreads, FewerItemsThanThreadsOfferTheRest) {
  const long long off0 = spare_chunks_run();
  std::vector<int> runs(8, 0);
  testing::internal::CaptureStdout();
  run_in_order(2, 5, 5, [&](long item, int) {
    if (item == 0) {
      ASSERT_TRUE(AwaitSpare(4));
      run_chunks(8, [&](int c) {
        Busy(2000);
        runs[static_cast<size_t>(c)]++;
      });
    }
    run_print("item %ld\n", item);
  });
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "item 0\nitem 1\n");
  EXPECT_EQ(runs, std::vector<int>(8, 1));
  EXPECT_GT(spare_chunks_run() - off0, 0);
  EXPECT_EQ(spare_threads_waiting(), 0) << "a spare thread still serves after the pass";
}

// A stop in such a pass ends the run with its status while the extra
// spare threads sleep.
TEST(SpareThreadsDeathTest, StopWithMoreThreadsThanItems) {
  EXPECT_EXIT(
      run_to_exit([&] {
        run_in_order(2, 6, 6, [](long item, int) {
          if (item == 1) {
            AwaitSpare(4);
            end_run(5);
          }
        });
        std::exit(0);
      }),
      ::testing::ExitedWithCode(5), "");
}

}  // namespace
