#ifndef QUORVEX_FUZZ_SUPPORT_H
#define QUORVEX_FUZZ_SUPPORT_H

// Shared by the fuzz targets: each input buffer becomes the contents of one
// temporary file that the real loader reads; a loader's stop is caught as
// the run's stop (RunStop), and the progress labels go to /dev/null.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include "driver/file_checks.h"
#include "numeric/run_stop.h"

namespace fuzz_support {

// Called once per process: standard output is discarded and the temporary
// file is made.
inline const std::string &scratch_file() {
  static const std::string path = [] {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    const char *dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/quorvex_fuzz_XXXXXX";
    int fd = mkstemp(&pattern[0]);
    if (fd < 0) std::abort();
    close(fd);
    std::atexit([] { unlink(scratch_file().c_str()); });
    return pattern;
  }();
  return path;
}

// Writes the buffer as the whole file and returns its name.
inline const char *file_with(const std::uint8_t *data, std::size_t size) {
  const std::string &path = scratch_file();
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
  return path.c_str();
}

}  // namespace fuzz_support

#endif
