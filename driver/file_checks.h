#ifndef QUORVEX_DRIVER_FILE_CHECKS_H
#define QUORVEX_DRIVER_FILE_CHECKS_H

// Checks on the files of a run, in one place for every pass:
// - the stop on bad input, its message carried by the run's stop;
// - input files must be regular files (they are read more than once);
// - no output may name an input file or another output;
// - every write, flush and close of an output file is checked.

#include <cstdio>
#include <string>

#include "driver/settings.h"

// Formats the message and raises the run's stop with it (stop_with_message
// of run_stop.h: the message, then the closing line, on standard output).
[[noreturn]] void stop_run(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Opens an input file for reading. Stops with the loader's message when it
// cannot be opened ("fail\nError: Cannot open <kind> '<name>'.\n") or when
// it is not a regular file: "fail\nError: <Kind> '<name>' is a directory.\n"
// (or "... is a character device, not a regular file ...", a pipe, ...).
// kind is the file's name in messages, such as "genotype file".
std::FILE *open_input_file(const char *name, const char *kind);

// Stops the run before any output is created when an output file in force
// names an input file (one the run reads, or the mapping or weight file
// named on the command line), or another output, as
// "\nError: Options '-ofile' and '-gfile' name the same file 'geno.txt'.\n".
// Two names are the same file when both exist with the same device and
// inode, else when their paths (folder resolved) agree. Outputs that are
// character devices (/dev/null) may be shared by several outputs.
void check_output_names(const Settings &settings);

// Output files whose writing is checked: a failed write, flush or close
// prints "Error: Cannot write output file '<name>'.\n" and stops the run, so
// that a full disk never passes for a finished run.
//
// write_output_file creates (truncates) the file, or appends to it, as
// fopen's "w" and "a" do (mode 0666 less the umask), writes the text and
// closes it, with plain system calls so that a row costs no allocation. It
// returns false, writing nothing, when the file cannot be opened (callers
// keep their own messages for that).
bool write_output_file(const char *name, bool append, const char *text, std::size_t length);
inline bool write_output_file(const char *name, bool append, const std::string &text) {
  return write_output_file(name, append, text.data(), text.size());
}

// For a stream kept open (the message log): close_output flushes, checks the
// stream's error flag and closes it.
std::FILE *open_output(const char *name, const char *mode);
void close_output(std::FILE *f, const char *name);
[[noreturn]] void fail_output(const char *name);

#endif
