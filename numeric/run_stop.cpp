#include "numeric/run_stop.h"

#include <cstdio>
#include <utility>

const char kStoppedLine[] = "\nQUORVEX was stopped due to error(s) listed above.\n\n";

void end_run(int status) {
  RunStop stop;
  stop.status = status;
  throw stop;
}

void raise_stop(RunStop stop) { throw stop; }

void kill_QUORVEX() {
  RunStop stop;
  stop.texts.push_back({RunStop::kStandardOutput, kStoppedLine});
  throw stop;
}

void stop_with_message(std::string message) {
  RunStop stop;
  stop.texts.push_back({RunStop::kStandardOutput, std::move(message)});
  stop.texts.push_back({RunStop::kStandardOutput, kStoppedLine});
  throw stop;
}

int write_stop(const RunStop &stop) {
  for (const RunStop::Text &t : stop.texts)
    std::fwrite(t.bytes.data(), 1, t.bytes.size(), t.stream == RunStop::kStandardError ? stderr : stdout);
  return stop.status;
}
