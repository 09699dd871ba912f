#include "driver/text_file.h"

#include <cstdint>
#include <cstring>

#include <sys/stat.h>

namespace {

// A block need not be larger than the file (plus one byte, so that the end
// of the file is met by the first read); small files then cost no large
// allocation.
std::size_t block_for(std::FILE *f, std::size_t block_size) {
  struct stat st;
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0) {
    const std::size_t need = static_cast<std::size_t>(st.st_size) + 1;
    const std::size_t floor = 256;
    const std::size_t want = need < floor ? floor : need;
    if (want < block_size) return want;
  }
  return block_size;
}

}  // namespace

CountResult count_rows_and_tabs(std::FILE *f) {
  CountResult r{0, 0};
  std::vector<char> block(block_for(f, std::size_t(1) << 22));
  bool first = true;
  char last = 0;
  for (;;) {
    std::size_t n = std::fread(block.data(), 1, block.size(), f);
    if (n == 0) break;
    std::size_t from = 0;
    if (first) {  // the first character is consumed without being counted
      first = false;
      last = block[0];
      from = 1;
    }
    long tabs = 0, rows = 0;
    const char *b = block.data();
    for (std::size_t i = from; i < n; i++) {
      tabs += b[i] == '\t';
      rows += b[i] == '\n';
    }
    r.tabs += tabs;
    r.rows += rows;
    last = b[n - 1];
  }
  if (!first && last != '\n') r.rows += 1;
  // A file of one newline: that newline is the uncounted first character,
  // and nothing follows it, so no row is added at the end.
  return r;
}

LineReader::LineReader(std::FILE *f, std::size_t block_size, long begin, long end)
    : LineReader(f, nullptr, block_size, begin, end) {}

LineReader::LineReader(std::FILE *f, std::vector<char> *buffer, std::size_t block_size, long begin, long end)
    : file_(f), buffer_(buffer ? *buffer : own_buffer_) {
  const std::size_t block = block_for(f, block_size);
  if (buffer_.size() < block) buffer_.resize(block);
  // A range is read from its start; a whole file from where f stands.
  if (begin > 0 || end >= 0) {
    if (fseeko(f, static_cast<off_t>(begin), SEEK_SET) != 0) at_end_ = true;
    base_ = begin;
  }
  if (end >= 0) remaining_ = end > begin ? end - begin : 0;
}

long count_tabs(const char *b, const char *e) {
  // Eight bytes at a time: a byte of x is zero exactly where the text holds
  // a tab, and the high bit of each byte of z is set exactly for a zero byte
  // of x (adding 0x7F to the low seven bits carries into the high bit for
  // any byte other than zero, and x's own high bit covers the rest).
  const std::uint64_t kTabs = 0x0909090909090909ull, kLow7 = 0x7F7F7F7F7F7F7F7Full;
  long n = 0;
  for (; e - b >= 8; b += 8) {
    std::uint64_t w;
    std::memcpy(&w, b, sizeof w);
    const std::uint64_t x = w ^ kTabs;
    const std::uint64_t z = ~(((x & kLow7) + kLow7) | x | kLow7);
    n += static_cast<long>(((z >> 7) * 0x0101010101010101ull) >> 56);
  }
  for (; b < e; b++) n += *b == '\t';
  return n;
}

bool LineReader::next(const char **begin, const char **end, long *offset) {
  for (;;) {
    const char *data = buffer_.data();
    const void *nl = std::memchr(data + start_ + scanned_, '\n', filled_ - start_ - scanned_);
    if (nl) {
      std::size_t stop = static_cast<std::size_t>(static_cast<const char *>(nl) - data);
      *begin = data + start_;
      *end = data + stop;
      *offset = base_ + static_cast<long>(start_);
      start_ = stop + 1;
      scanned_ = 0;
      line_number_++;
      bom_checked_ = true;
      ended_with_newline_ = true;
      return true;
    }
    scanned_ = filled_ - start_;
    if (at_end_) {
      if (start_ == filled_) return false;
      *begin = data + start_;
      *end = data + filled_;
      *offset = base_ + static_cast<long>(start_);
      start_ = filled_;
      scanned_ = 0;
      line_number_++;
      ended_with_newline_ = false;
      return true;
    }
    // Keep the unfinished line at the front of the buffer, grow the buffer
    // when the line fills it, and read the next block behind it.
    if (start_ > 0) {
      std::memmove(buffer_.data(), buffer_.data() + start_, filled_ - start_);
      base_ += static_cast<long>(start_);
      filled_ -= start_;
      start_ = 0;
    }
    if (filled_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    std::size_t want = buffer_.size() - filled_;
    if (remaining_ >= 0 && static_cast<std::size_t>(remaining_) < want) want = static_cast<std::size_t>(remaining_);
    std::size_t n = want > 0 ? std::fread(buffer_.data() + filled_, 1, want, file_) : 0;
    if (n == 0) at_end_ = true;
    if (remaining_ >= 0) remaining_ -= static_cast<long>(n);
    filled_ += n;
    // A UTF-8 byte-order mark at the start of the file is no part of the
    // first line.
    if (!bom_checked_ && (filled_ >= 3 || at_end_)) {
      bom_checked_ = true;
      if (base_ == 0 && start_ == 0 && filled_ >= 3 && std::memcmp(buffer_.data(), "\xEF\xBB\xBF", 3) == 0)
        start_ = 3;
    }
  }
}
