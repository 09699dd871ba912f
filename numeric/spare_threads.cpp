#include "numeric/spare_threads.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// One run_chunks call: its chunks are handed out in order under the pool's
// lock; the call returns once every chunk handed out has finished.
struct Job {
  const std::function<void(int)> *work;
  int chunks;
  int next = 0;  // next chunk to hand out
  std::atomic<int> done{0};  // chunks finished (counted under the lock)
  std::exception_ptr error;
  std::condition_variable finished;  // notified under the lock when done == chunks
};

struct Pool {
  std::mutex mu;
  std::condition_variable wake;
  std::deque<Job *> open;  // jobs with chunks left to hand out, oldest first
};

// The process's pool, ended with the process: every thread that serves on
// it (a worker of run_in_order, a thread of SpareThreads) is joined before
// its owner returns, a stopped run included, so none sleeps on it then.
Pool &pool() {
  static Pool p;
  return p;
}

// Spare threads inside serve_as_spare that are not running a chunk. Raised
// before a spare thread checks its done() and lowered after it woke, so a
// waker that reads 0 after changing what done() reads knows that nobody can
// be about to sleep on the old state.
std::atomic<int> waiting{0};
std::atomic<long long> helped{0};
// Jobs in the pool's open list (read without the lock by spinning threads).
std::atomic<int> open_jobs{0};

// After running a chunk a spare thread watches for the next job this long
// before it sleeps: a thread that splits its work does so again within a
// fraction of a millisecond (the next rule application), and a sleeping
// thread takes far longer than that to wake on a busy machine. Only a
// thread that has just helped watches; with no work it sleeps. A watching
// thread yields its CPU at each look, so that on a machine with more
// runnable threads than CPUs it takes no time from the others (on an idle
// CPU the yield returns at once).
const auto kWatch = std::chrono::microseconds(100);

// Claims the next chunk of job (lock held); closes the job to further
// claims once its last chunk is out.
int claim(Pool &p, Job *job) {
  const int c = job->next++;
  if (job->next == job->chunks) {
    p.open.erase(std::find(p.open.begin(), p.open.end(), job));
    open_jobs.fetch_sub(1, std::memory_order_relaxed);
  }
  return c;
}

// Runs chunk c of job with the lock released, then counts it (lock held
// again on return).
void run_claimed(std::unique_lock<std::mutex> &lock, Job *job, int c) {
  lock.unlock();
  std::exception_ptr error;
  try {
    (*job->work)(c);
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  if (error && !job->error) job->error = error;
  if (++job->done == job->chunks) job->finished.notify_all();
}

}  // namespace

int spare_threads_waiting() { return waiting.load(std::memory_order_relaxed); }

long long spare_chunks_run() { return helped.load(); }

void run_chunks(int chunks, const std::function<void(int chunk)> &work) {
  if (chunks <= 1 || spare_threads_waiting() == 0) {
    for (int c = 0; c < chunks; c++) work(c);
    return;
  }
  Pool &p = pool();
  Job job;
  job.work = &work;
  job.chunks = chunks;
  std::unique_lock<std::mutex> lock(p.mu);
  p.open.push_back(&job);
  open_jobs.fetch_add(1, std::memory_order_relaxed);
  p.wake.notify_all();
  while (job.next < job.chunks) run_claimed(lock, &job, claim(p, &job));
  if (job.done.load() < job.chunks) {
    // The last chunks are running on spare threads: watch for their end
    // rather than sleep, which would add a wake-up to every split.
    lock.unlock();
    const auto until = std::chrono::steady_clock::now() + kWatch;
    while (job.done.load(std::memory_order_acquire) < job.chunks &&
           std::chrono::steady_clock::now() < until)
      std::this_thread::yield();
    lock.lock();  // also waits for the last helper to leave its notify
    job.finished.wait(lock, [&] { return job.done.load() == job.chunks; });
  }
  lock.unlock();
  if (job.error) std::rethrow_exception(job.error);
}

void serve_as_spare(const std::function<bool()> &done) {
  Pool &p = pool();
  std::unique_lock<std::mutex> lock(p.mu);
  waiting.fetch_add(1);
  for (;;) {
    if (!p.open.empty()) {
      Job *job = p.open.front();
      const int c = claim(p, job);
      waiting.fetch_sub(1);
      helped.fetch_add(1);
      run_claimed(lock, job, c);
      waiting.fetch_add(1);
      if (p.open.empty()) {
        lock.unlock();
        const auto until = std::chrono::steady_clock::now() + kWatch;
        while (open_jobs.load(std::memory_order_relaxed) == 0 &&
               std::chrono::steady_clock::now() < until)
          std::this_thread::yield();
        lock.lock();
      }
      continue;
    }
    if (done()) break;
    p.wake.wait(lock);
  }
  waiting.fetch_sub(1);
}

void spare_threads_wake() {
  if (waiting.load() == 0) return;
  Pool &p = pool();
  std::lock_guard<std::mutex> lock(p.mu);
  p.wake.notify_all();
}

struct SpareThreads::State {
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
};

SpareThreads::SpareThreads(int count) : state_(new State) {
  for (int t = 0; t < count; t++)
    state_->threads.emplace_back([s = state_] { serve_as_spare([s] { return s->stop.load(); }); });
}

SpareThreads::~SpareThreads() {
  state_->stop.store(true);
  spare_threads_wake();
  for (std::thread &t : state_->threads) t.join();
  delete state_;
}
