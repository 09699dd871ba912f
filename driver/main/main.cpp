// Entry point of the quorvex program: banner, settings, data.
#include "driver/file_checks.h"
#include "driver/gene_pass.h"
#include "driver/input.h"
#include "driver/settings.h"

#include <cstdio>

int main(int argc, char **argv) {
  // Every completed line reaches standard output at once, also when it is
  // redirected to a file: a run that is killed keeps what it printed.
  setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  print_banner();
  Settings settings;
  load_options(argc, argv, &settings);
  check_output_names(settings);
  LoadedData data;
  load_data(settings, &data);
  run_testing(settings, data);
  free_loaded_data(&data);
  return 0;
}
