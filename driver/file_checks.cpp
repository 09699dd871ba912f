#include "driver/file_checks.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "numeric/run_stop.h"
#include "numeric/run_output.h"

namespace {

std::string capitalized(const char *kind) {
  std::string s = kind;
  if (!s.empty()) s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
  return s;
}

const char *kind_of_mode(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISREG(mode)) return nullptr;
  return "not a regular file";
}

// Identity of a file name: device and inode when the file exists, else its
// path with the folder resolved.
struct FileIdentity {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  bool char_device = false;
  std::string path;
};

std::string resolved_path(const char *name) {
  std::string n = name;
  std::string::size_type slash = n.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : n.substr(0, slash));
  std::string base = slash == std::string::npos ? n : n.substr(slash + 1);
  char buf[PATH_MAX];
  if (realpath(folder.c_str(), buf) == nullptr) return n;
  return std::string(buf) + "/" + base;
}

FileIdentity identify(const char *name) {
  FileIdentity id;
  struct stat st;
  if (stat(name, &st) == 0) {
    id.exists = true;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.char_device = S_ISCHR(st.st_mode);
  }
  id.path = resolved_path(name);
  return id;
}

bool same_file(const FileIdentity &a, const FileIdentity &b) {
  if (a.exists && b.exists) return a.dev == b.dev && a.ino == b.ino;
  if (a.exists != b.exists) return false;
  return a.path == b.path;
}

struct NamedFile {
  const char *option;
  const char *name;
  FileIdentity id;
};

}  // namespace

void stop_run(const char *format, ...) {
  std::va_list args;
  va_start(args, format);
  std::va_list copy;
  va_copy(copy, args);
  const int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::vector<char> text(static_cast<std::size_t>(n > 0 ? n : 0) + 1);
  std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  stop_with_message(std::string(text.data(), static_cast<std::size_t>(n > 0 ? n : 0)));
}

namespace {

[[noreturn]] void fail_non_regular(const char *name, const char *kind, mode_t mode) {
  if (S_ISDIR(mode)) stop_run("fail\nError: %s '%s' is a directory.\n", capitalized(kind).c_str(), name);
  stop_run("fail\nError: %s '%s' is %s, not a regular file (input files are read more than "
           "once, so they must be files on disk).\n",
           capitalized(kind).c_str(), name, kind_of_mode(mode));
}

}  // namespace

std::FILE *open_input_file(const char *name, const char *kind) {
  // Examined before it is opened: opening a pipe would wait for a writer.
  struct stat st;
  if (stat(name, &st) == 0 && kind_of_mode(st.st_mode) != nullptr) fail_non_regular(name, kind, st.st_mode);
  std::FILE *f = std::fopen(name, "rb");
  if (f == nullptr) stop_run("fail\nError: Cannot open %s '%s'.\n", kind, name);
  if (fstat(fileno(f), &st) == 0 && kind_of_mode(st.st_mode) != nullptr) {
    std::fclose(f);
    fail_non_regular(name, kind, st.st_mode);
  }
  return f;
}

void check_output_names(const Settings &s) {
  std::vector<NamedFile> inputs, outputs;
  inputs.push_back({"-pfile", s.phenotype, {}});
  inputs.push_back({"-gfile", s.genotype, {}});
  // The mapping and weight files are protected when the run reads them and
  // also when they were named without being read (-noRare, a dominant or
  // recessive model): the user's files all the same.
  if (s.DORARE || s.mmf) inputs.push_back({"-mfile", s.mapfile, {}});
  if (s.mwf || std::strcmp(s.wfile, "wfile.txt") != 0) inputs.push_back({"-wfile", s.wfile, {}});
  if (s.DORARE) {
    outputs.push_back({"-ofile", s.output, {}});
    outputs.push_back({"-vtlog", s.vtlog, {}});
    outputs.push_back({"-snplog", s.skatlog, {}});
    if (s.mwf) outputs.push_back({"-multilog", s.multilog, {}});
  }
  if (s.DOCOM) outputs.push_back({"-ofileC", s.output_com, {}});
  if (s.mmsgl) outputs.push_back({"-msglog", s.msglog, {}});
  for (NamedFile &f : inputs) f.id = identify(f.name);
  for (NamedFile &f : outputs) f.id = identify(f.name);
  for (std::size_t o = 0; o < outputs.size(); o++) {
    const NamedFile &out = outputs[o];
    for (const NamedFile &in : inputs)
      if (same_file(out.id, in.id)) {
        std::printf("Error: Options '%s' and '%s' name the same file '%s': an output file must not "
                    "overwrite an input file.\n",
                    out.option, in.option, out.name);
        kill_QUORVEX();
      }
    for (std::size_t e = 0; e < o; e++) {
      const NamedFile &earlier = outputs[e];
      if (out.id.char_device && earlier.id.char_device) continue;  // such as /dev/null
      if (same_file(out.id, earlier.id)) {
        std::printf("Error: Options '%s' and '%s' name the same file '%s': two outputs cannot "
                    "share one file.\n",
                    earlier.option, out.option, out.name);
        kill_QUORVEX();
      }
    }
  }
}

std::FILE *open_output(const char *name, const char *mode) { return std::fopen(name, mode); }

void fail_output(const char *name) {
  run_print("Error: Cannot write output file '%s'.\n", name);
  kill_QUORVEX();
}

bool write_output_file(const char *name, bool append, const char *text, std::size_t length) {
  const int fd = open(name, O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC), 0666);
  if (fd < 0) return false;
  bool written = true;
  while (length > 0) {
    const ssize_t n = write(fd, text, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      written = false;
      break;
    }
    text += n;
    length -= static_cast<std::size_t>(n);
  }
  const bool closed = close(fd) == 0;
  if (!written || !closed) fail_output(name);
  return true;
}

void close_output(std::FILE *f, const char *name) {
  const bool flushed = std::fflush(f) == 0 && !std::ferror(f);
  const bool closed = std::fclose(f) == 0;
  if (!flushed || !closed) fail_output(name);
}
