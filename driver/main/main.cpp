// Entry point of the quorvex program: banner, settings, data, testing. The
// run ends here in one place: a fatal condition anywhere raises the run's
// stop (numeric/run_stop.h), whose texts are written here before the
// status is returned.
#include <cstdio>

#include "driver/file_checks.h"
#include "driver/gene_pass.h"
#include "driver/input.h"
#include "driver/settings.h"
#include "numeric/run_stop.h"
#include "stats/gsl_errors.h"

namespace {

bool g_stopped = false;

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// A stopped run leaves the arrays of the work it cut off to the end of the
// process; the leak checker of a sanitizer build checks the runs that finish.
extern "C" int __lsan_is_turned_off() { return g_stopped ? 1 : 0; }
#endif

int main(int argc, char **argv) {
  // Every completed line reaches standard output at once, also when it is
  // redirected to a file: a run that is killed keeps what it printed.
  setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  install_gsl_stop();
  try {
    print_banner();
    Settings settings;
    load_options(argc, argv, &settings);
    check_output_names(settings);
    LoadedData data;
    load_data(settings, &data);
    run_testing(settings, data);
    free_loaded_data(&data);
  } catch (const RunStop &stop) {
    g_stopped = true;
    const int status = write_stop(stop);
    std::fflush(stdout);
    return status;
  }
  return 0;
}
