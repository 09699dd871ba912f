// Entry point of the quorvex program: banner, settings, data.
#include "driver/file_checks.h"
#include "driver/gene_pass.h"
#include "driver/input.h"
#include "driver/settings.h"

int main(int argc, char **argv) {
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
