#ifndef QUORVEX_NUMERIC_RUN_OUTPUT_H
#define QUORVEX_NUMERIC_RUN_OUTPUT_H

// The run's text on standard output and its deferred file writes, as seen
// from one thread.
//
// Outside a capture (the usual case, and every run on one thread) text goes
// straight to standard output and deferred actions run at once. A thread
// that works on one item of a pass (a gene, a variant, a range of
// resamples) side by side with others runs it inside a capture: its text
// and file writes are kept in the item's OutputRecord, and a stop
// (run_stop.h) that ends the item is kept there too. The records are
// replayed in the items' order (commit_output), so that standard output,
// the message log and every file receive the bytes of the one-thread run; a
// kept stop is raised again at its item's replay.

#include <cstddef>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "numeric/run_stop.h"

// Everything one item wrote, in order: its text, and actions (file writes)
// with the length of text written before each.
struct OutputRecord {
  std::string text;
  struct Action {
    std::size_t at;
    std::function<void()> run;
  };
  std::vector<Action> actions;
  std::optional<RunStop> stop;  // the stop that ended the item, if one did
  bool stopped() const { return stop.has_value(); }
  void clear() {
    text.clear();
    actions.clear();
    stop.reset();
  }
};

// Text of the run: printf-style, and raw bytes.
void run_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
void run_write(const char *text, std::size_t length);
inline void run_write(const std::string &text) { run_write(text.data(), text.size()); }

// Runs action now, or, inside a capture, keeps it to run when the record is
// replayed (after the text written so far).
void run_defer(std::function<void()> action);

// The calling thread's capture (nullptr: none). While set, run_print,
// run_write and run_defer act on the record.
void set_output_capture(OutputRecord *record);
OutputRecord *output_capture();

// Replays a record on the calling thread: its text and actions in order
// (into the thread's own capture, when it has one), then, if the item
// stopped the run, raises its stop again.
void commit_output(OutputRecord &record);

// Runs work() inside a capture into record; a RunStop ends it early and is
// kept in the record. The thread's previous capture is restored.
void capture_output(OutputRecord &record, const std::function<void()> &work);

#endif
