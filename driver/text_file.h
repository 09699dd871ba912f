#ifndef QUORVEX_DRIVER_TEXT_FILE_H
#define QUORVEX_DRIVER_TEXT_FILE_H

// Block-wise reading of the text input files.

#include <cstddef>
#include <cstdio>
#include <vector>

// Result of the counting pass over a whole file.
struct CountResult {
  long rows;  // newlines, plus one for a last line without a newline
  long tabs;  // tab characters
};

// Counting pass: the first character is consumed without being counted; an
// empty file gives 0 rows and 0 tabs; every later tab adds a tab, every
// later newline a row, and the end of the file adds a row unless the last
// character before it was a newline. Reads f to its end in large blocks.
CountResult count_rows_and_tabs(std::FILE *f);

// Reads a file line by line through one large buffer (grown for lines that
// do not fit). A line is handed out without its newline; a last line
// without a newline is handed out as well. A UTF-8 byte-order mark at the
// start of the file is skipped (the first line's offset is then 3).
//
// A reader of the byte range [begin, end) of the file (end -1: to the end of
// the file) hands out the lines of that range only; begin is to be the
// start of a line and end the end of the file or just after a newline, so
// that the ranges of a file together hand out its lines exactly once.
class LineReader {
 public:
  explicit LineReader(std::FILE *f, std::size_t block_size = std::size_t(1) << 22, long begin = 0,
                      long end = -1);
  // The same, reading through the caller's buffer (grown when smaller than
  // the block), so that a thread that reads range after range allocates and
  // touches its buffer once.
  LineReader(std::FILE *f, std::vector<char> *buffer, std::size_t block_size, long begin, long end);
  LineReader(const LineReader &) = delete;
  LineReader &operator=(const LineReader &) = delete;

  // The next line as [*begin, *end) and the byte offset of its first
  // character in the file; false at the end of the file. The text stays
  // valid until the next call.
  bool next(const char **begin, const char **end, long *offset);

  // Number of lines handed out so far (the current line's number, from 1).
  long line_number() const { return line_number_; }

  // Whether the line last handed out ended with a newline (only a last line
  // of the file or of the range can end without one).
  bool ended_with_newline() const { return ended_with_newline_; }

 private:
  std::FILE *file_;
  std::vector<char> own_buffer_;
  std::vector<char> &buffer_;
  std::size_t start_ = 0;    // first byte of the next line
  std::size_t scanned_ = 0;  // bytes from start_ known to hold no newline
  std::size_t filled_ = 0;   // bytes of the buffer that hold file data
  long base_ = 0;            // file offset of buffer_[0]
  bool at_end_ = false;
  bool bom_checked_ = false;
  long line_number_ = 0;
  long remaining_ = -1;  // bytes of the range not yet read (-1: to the end of the file)
  bool ended_with_newline_ = false;
};

// Number of tab characters in [b, e).
long count_tabs(const char *b, const char *e);

// Blanks between tokens: white space other than the newline, as the
// platform's scanf skips it (blank, tab, carriage return, vertical tab, form
// feed).
inline bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

#endif
