#ifndef QUORVEX_NUMERIC_RUN_OUTPUT_H
#define QUORVEX_NUMERIC_RUN_OUTPUT_H

// The run's text on standard output, its deferred file writes and its stop,
// as seen from one thread.
//
// Outside a capture (the usual case, and every run on one thread) text goes
// straight to standard output, deferred actions run at once and end_run
// exits. A thread that works on one item of a pass (a gene, a variant, a
// range of resamples) side by side with others runs it inside a capture:
// its text and file writes are kept in the item's OutputRecord, and a stop
// unwinds the item (RunStop) with its status kept. The records are replayed
// in the items' order (commit_output), so that standard output, the message
// log and every file receive the bytes of the one-thread run, a stop
// included.

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

// Everything one item wrote, in order: its text, and actions (file writes)
// with the length of text written before each.
struct OutputRecord {
  std::string text;
  struct Action {
    std::size_t at;
    std::function<void()> run;
  };
  std::vector<Action> actions;
  int stop_status = -1;  // the item stopped the run with this status (-1: it did not)
  // A record that holds the output of work running in the calling thread's
  // own course (not an item that capture_output runs), as the resampling
  // pool holds the output of an item set up while earlier ones wait:
  // end_run keeps the status here and exits at once, without unwinding;
  // an exit handler replays what is held.
  bool exits_on_stop = false;
  void clear() {
    text.clear();
    actions.clear();
    stop_status = -1;
  }
};

// Thrown by end_run on a thread inside a capture.
struct RunStop {
  int status;
};

// Text of the run: printf-style, and raw bytes.
void run_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
void run_write(const char *text, std::size_t length);
inline void run_write(const std::string &text) { run_write(text.data(), text.size()); }

// Runs action now, or, inside a capture, keeps it to run when the record is
// replayed (after the text written so far).
void run_defer(std::function<void()> action);

// Ends the run with status: flushes standard output and exits; inside a
// capture, keeps the status in the record and throws RunStop (or, for a
// record that exits_on_stop, exits).
[[noreturn]] void end_run(int status);

// The calling thread's capture (nullptr: none). While set, run_print,
// run_write, run_defer and end_run act on the record.
void set_output_capture(OutputRecord *record);
OutputRecord *output_capture();

// Replays a record on the calling thread: its text and actions in order
// (into the thread's own capture, when it has one), then, if the item
// stopped the run, end_run with its status.
void commit_output(OutputRecord &record);

// Runs work() inside a capture into record; a RunStop ends it early with the
// status kept. The thread's previous capture is restored.
void capture_output(OutputRecord &record, const std::function<void()> &work);

#endif
