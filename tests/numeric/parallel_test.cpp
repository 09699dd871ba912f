#include "numeric/parallel.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "numeric/random.h"
#include "numeric/run_output.h"
#include "support/death_tests.h"

namespace {

// Runs body with standard output sent to a temporary file and returns what
// was written there.
template <class Body>
std::string stdout_of(Body body) {
  std::fflush(stdout);
  char name[] = "/tmp/quorvex-par-XXXXXX";
  const int fd = mkstemp(name);
  const int saved = dup(1);
  dup2(fd, 1);
  body();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  std::string text;
  char buf[4096];
  lseek(fd, 0, SEEK_SET);
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, (size_t)n);
  close(fd);
  unlink(name);
  return text;
}

// Item i prints two lines around a deferred action that appends to a log,
// and takes a time that decreases with i, so that later items finish first.
void print_item(long i, std::string *log) {
  run_print("item %ld begins\n", i);
  std::this_thread::sleep_for(std::chrono::microseconds(((i * 7) % 5) * 300));
  run_defer([i, log] { *log += std::to_string(i) + ";"; });
  run_print("item %ld ends\n", i);
}

std::string serial_text(long n) {
  std::string t;
  for (long i = 0; i < n; i++)
    t += "item " + std::to_string(i) + " begins\nitem " + std::to_string(i) + " ends\n";
  return t;
}

TEST(RunInOrder, OutputAndActionsInItemOrderForAnyThreadsAndWindow) {
  const long n = 40;
  std::string expected_log;
  for (long i = 0; i < n; i++) expected_log += std::to_string(i) + ";";
  const int cases[][2] = {{1, 1}, {2, 2}, {3, 5}, {8, 8}, {8, 1000}, {64, 4}};
  for (const auto &c : cases) {
    std::string log, after;
    const std::string out = stdout_of([&] {
      run_in_order(
          n, c[0], c[1], [&](long i, int worker) {
            EXPECT_GE(worker, 0);
            EXPECT_LT(worker, c[0]);
            print_item(i, &log);
          },
          [&](long i) { after += std::to_string(i) + ";"; });
    });
    EXPECT_EQ(out, serial_text(n)) << c[0] << " threads, window " << c[1];
    EXPECT_EQ(log, expected_log);
    EXPECT_EQ(after, expected_log);
  }
}

TEST(RunInOrder, EveryWorkerHasItsOwnGeneratorState) {
  // Each item draws from the Bernoulli generator after resetting it: with
  // per-thread seeds every item sees the same first value on any thread.
  reset_runifC3();
  const double first = runifC3();
  std::vector<double> seen(200, 0.0);
  run_in_order(200, 6, 12, [&](long i, int) {
    reset_runifC3();
    seen[(size_t)i] = runifC3();
  });
  for (double v : seen) EXPECT_EQ(v, first);
  reset_runifC3();
}

// A stop in item 5 while later items run: the output is exactly that of the
// serial run up to the stop, and the status is the stop's.
void stop_in_item_five(int threads) {
  run_in_order(30, threads, 30, [&](long i, int) {
    run_print("item %ld\n", i);
    if (i == 5) {
      run_print("Error: item five\n");
      end_run(3);
    }
    if (i > 5) run_print("later item %ld\n", i);
  });
  std::exit(0);
}

TEST(RunInOrderDeathTest, StopEndsTheRunAfterTheEarlierItems) {
  const std::string expected =
      "item 0\nitem 1\nitem 2\nitem 3\nitem 4\nitem 5\nError: item five\n";
  for (int threads : {1, 4}) {
    // Standard output of the dying child goes to a file that the test reads.
    char name[64];
    std::snprintf(name, sizeof name, "/tmp/quorvex-stop-%d-%d", threads, (int)getpid());
    ASSERT_EXIT(
        run_to_exit([&] {
          if (std::freopen(name, "w", stdout) == nullptr) std::exit(99);
          stop_in_item_five(threads);
        }),
        ::testing::ExitedWithCode(3), "");
    std::FILE *f = std::fopen(name, "r");
    ASSERT_NE(f, nullptr);
    std::string text;
    char buf[256];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
    std::fclose(f);
    std::remove(name);
    EXPECT_EQ(text, expected) << threads << " threads";
  }
}

TEST(RunOutput, CaptureKeepsTextActionsAndStop) {
  OutputRecord record;
  std::string log;
  capture_output(record, [&] {
    run_print("a%d", 1);
    run_defer([&] { log += "x"; });
    run_write("bc", 2);
    end_run(7);
  });
  EXPECT_EQ(record.text, "a1bc");
  ASSERT_EQ(record.actions.size(), 1u);
  EXPECT_EQ(record.actions[0].at, 2u);
  ASSERT_TRUE(record.stopped());
  EXPECT_EQ(record.stop->status, 7);
  EXPECT_EQ(log, "");  // nothing ran yet
  EXPECT_EQ(output_capture(), nullptr);
}

TEST(ThreadCount, FollowsTheAffinityMaskUnlessSetForTests) {
  const char *saved_env = std::getenv("QUORVEX_THREADS");
  std::string saved = saved_env ? saved_env : "";
  unsetenv("QUORVEX_THREADS");
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  EXPECT_EQ(thread_count(), CPU_COUNT(&all));
  // One CPU of the mask only (the first): one thread.
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int c = 0; c < CPU_SETSIZE; c++)
    if (CPU_ISSET(c, &all)) {
      CPU_SET(c, &one);
      break;
    }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(thread_count(), 1);
  ASSERT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
  setenv("QUORVEX_THREADS", "3", 1);
  EXPECT_EQ(thread_count(), 3);
  for (const char *bad : {"0", "-2", "x", ""}) {
    setenv("QUORVEX_THREADS", bad, 1);
    EXPECT_EQ(thread_count(), CPU_COUNT(&all)) << bad;
  }
  if (saved_env)
    setenv("QUORVEX_THREADS", saved.c_str(), 1);
  else
    unsetenv("QUORVEX_THREADS");
}

}  // namespace
