#ifndef QUORVEX_TESTS_FILES_AND_RUNS_H
#define QUORVEX_TESTS_FILES_AND_RUNS_H

// The tests' files and command lines: writing and reading a whole file, and
// running the program or the data-set generator in a folder. Every test that
// runs either binary builds its command line here.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace test_support {

// Writes text to dir/name (bytes as given) and returns the path.
inline std::string write_file(const std::string &dir, const std::string &name,
                              const std::string &text) {
  std::string path = dir + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out << text;
  return path;
}

// The whole file, or "" when it cannot be read.
inline std::string read_file(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline bool file_exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

inline void remove_dir(const std::string &dir) {
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "cannot remove " << dir;
}

// The exit status of a std::system call, or -1 when the command did not exit.
inline int exit_status(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1; }

// The program's command line: run in dir, with environment settings (such
// as "QUORVEX_THREADS=3 ", each ending in a space) before it and the
// redirections after it.
inline std::string program_command(const std::string &dir, const std::string &env,
                                   const std::string &args,
                                   const std::string &redirect = "> stdout.txt 2> stderr.txt") {
  return "cd '" + dir + "' && " + env + "'" QUORVEX_BINARY "' " + args + " " + redirect;
}

// Runs the program in dir (program_command) and returns its exit status.
inline int run_program(const std::string &dir, const std::string &env, const std::string &args,
                       const std::string &redirect = "> stdout.txt 2> stderr.txt") {
  return exit_status(std::system(program_command(dir, env, args, redirect).c_str()));
}

// Runs the data-set generator with the arguments, its files written into
// dir, and returns its exit status.
inline int run_generator(const std::string &args, const std::string &dir,
                         const std::string &redirect = "> /dev/null") {
  const std::string cmd = "'" QUORVEX_GENERATOR "' " + args + " -out '" + dir + "' " + redirect;
  return exit_status(std::system(cmd.c_str()));
}

}  // namespace test_support

#endif
