#ifndef QUORVEX_NUMERIC_RUN_STOP_H
#define QUORVEX_NUMERIC_RUN_STOP_H

// The run's one fatal stop. Whatever layer finds a condition that ends the
// run raises a RunStop (an exception) carrying the exit status and the
// texts that close the run, each with the stream it goes to. Nothing is
// written when it is raised: the pass that runs the stopped item receives
// it, finishes and writes the items before it, joins its threads and lets
// it go on; main writes its texts (write_stop), flushes and returns the
// status. Text that the stopped item wrote before the stop stays where it
// is (standard output, or the item's output record).

#include <string>
#include <vector>

struct RunStop {
  enum Stream { kStandardOutput, kStandardError };
  struct Text {
    Stream stream;
    std::string bytes;
  };
  int status = 1;
  std::vector<Text> texts;  // written in this order
};

// The closing line of a stopped run, on standard output.
extern const char kStoppedLine[];  // "\nQUORVEX was stopped due to error(s) listed above.\n\n"

// Raises a stop with status and no text of its own.
[[noreturn]] void end_run(int status);

// Raises stop as it is.
[[noreturn]] void raise_stop(RunStop stop);

// The program's stop after the caller has written its own message: status 1
// and the closing line kStoppedLine on standard output.
[[noreturn]] void kill_QUORVEX();

// The stop of a message that the stop itself carries: message, then the
// closing line, on standard output; status 1.
[[noreturn]] void stop_with_message(std::string message);

// Writes the stop's texts to their streams in order (standard output
// through its buffer, standard error unbuffered, as printf and fprintf to
// stderr write them) and returns its status.
int write_stop(const RunStop &stop);

#endif
