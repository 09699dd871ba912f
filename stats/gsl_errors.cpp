#include "stats/gsl_errors.h"

#include <gsl/gsl_errno.h>

#include <string>
#include <utility>

#include "numeric/run_stop.h"

namespace {

void gsl_stop(const char *reason, const char *file, int line, int /*gsl_errno*/) {
  RunStop stop;
  stop.texts.push_back({RunStop::kStandardError, std::string("gsl: ") + file + ":" +
                                                     std::to_string(line) + ": ERROR: " + reason +
                                                     "\n"});
  stop.texts.push_back({RunStop::kStandardError, "Default GSL error handler invoked.\n"});
  raise_stop(std::move(stop));
}

}  // namespace

void install_gsl_stop() { gsl_set_error_handler(&gsl_stop); }
