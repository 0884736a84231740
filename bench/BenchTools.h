// What the benchmarks share: timing, the best and the median of a series,
// and running a child program.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace orbel::bench {

using Clock = std::chrono::steady_clock;

// What keeps a benchmark from measuring; it exits with 2.
class SetupError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

inline double MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline double Best(const std::vector<double>& times) {
  return *std::min_element(times.begin(), times.end());
}

inline double Median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  const std::size_t n = times.size();
  return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

// Runs a program and waits for it; its exit status, and in `usage` what it
// used. Its standard output goes to /dev/null when `quiet`.
inline int RunProgram(const std::vector<std::string>& arguments, bool quiet, rusage& usage) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (quiet) posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw SetupError(arguments[0] + ": " + std::strerror(spawned));
  int status = 0;
  if (::wait4(pid, &status, 0, &usage) != pid) throw SetupError(arguments[0] + ": wait failed");
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace orbel::bench
