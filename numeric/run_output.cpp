#include "numeric/run_output.h"

#include <cstdarg>
#include <utility>

namespace {

thread_local OutputRecord *g_capture = nullptr;

}  // namespace

void run_write(const char *text, std::size_t length) {
  if (g_capture != nullptr)
    g_capture->text.append(text, length);
  else
    std::fwrite(text, 1, length, stdout);
}

void run_print(const char *format, ...) {
  char small[512];
  std::va_list args;
  va_start(args, format);
  std::va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) {
    va_end(args);
    return;
  }
  if (static_cast<std::size_t>(n) < sizeof small) {
    run_write(small, static_cast<std::size_t>(n));
  } else {
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    std::vsnprintf(&big[0], big.size(), format, args);
    run_write(big.data(), static_cast<std::size_t>(n));
  }
  va_end(args);
}

void run_defer(std::function<void()> action) {
  if (g_capture != nullptr)
    g_capture->actions.push_back({g_capture->text.size(), std::move(action)});
  else
    action();
}

void set_output_capture(OutputRecord *record) { g_capture = record; }

OutputRecord *output_capture() { return g_capture; }

void commit_output(OutputRecord &record) {
  std::size_t done = 0;
  for (OutputRecord::Action &a : record.actions) {
    if (a.at > done) run_write(record.text.data() + done, a.at - done);
    done = a.at;
    run_defer(std::move(a.run));  // kept in order when this thread captures too
  }
  if (record.text.size() > done) run_write(record.text.data() + done, record.text.size() - done);
  if (record.stop) raise_stop(*record.stop);
}

void capture_output(OutputRecord &record, const std::function<void()> &work) {
  OutputRecord *saved = g_capture;
  g_capture = &record;
  try {
    work();
  } catch (const RunStop &stop) {
    record.stop = stop;
  } catch (...) {
    g_capture = saved;
    throw;
  }
  g_capture = saved;
}
