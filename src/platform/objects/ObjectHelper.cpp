#include "platform/objects/ObjectHelper.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include "platform/base/WindowsApi.h"

#include "platform/base/Text.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace fs = std::filesystem;

namespace orbel::platform {
namespace {

constexpr std::chrono::milliseconds kStep{50};

// Reads the helper's output as it comes, keeping of each line only its
// beginning, so that a helper that says much does not fill memory or block on
// a full pipe, and its answer is found wherever it stands.
class AnswerReader {
 public:
  void Feed(std::string_view text) {
    for (char c : text) {
      if (c == '\n') {
        EndLine();
      } else if (line_.size() < kLongestWord) {
        line_ += c;
      }
    }
  }
  // The last line, when it has no line end.
  void Finish() { EndLine(); }
  bool Said(std::string_view word) const { return word == "created" ? created_ : notCreated_; }

 private:
  static constexpr std::size_t kLongestWord = sizeof "not created" - 1;
  void EndLine() {
    created_ = created_ || line_.starts_with("created");
    notCreated_ = notCreated_ || line_.starts_with("not created");
    line_.clear();
  }
  std::string line_;
  bool created_ = false;
  bool notCreated_ = false;
};

// A helper that crashed may have printed anything; only its answer together
// with the matching status counts.
HelperOutcome Judge(int status, const AnswerReader& answer) {
  if (status == 0 && answer.Said("created")) return HelperOutcome::Created;
  if (status == 1 && answer.Said("not created")) return HelperOutcome::NotCreated;
  return HelperOutcome::Crashed;
}

// Calls `whileWaiting` when a step has passed since it was last called.
class Pump {
 public:
  explicit Pump(const std::function<void()>& whileWaiting) : whileWaiting_(whileWaiting) {}
  void operator()() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < kStep) return;
    last_ = now;
    if (whileWaiting_) whileWaiting_();
  }

 private:
  const std::function<void()>& whileWaiting_;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

std::optional<fs::path> ExistingFile(const fs::path& path) {
  std::error_code ec;
  if (!path.empty() && fs::is_regular_file(path, ec)) return path;
  return std::nullopt;
}

// The process environment, for the lookups that take one.
std::optional<std::string> ProcessVariable(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

#ifdef _WIN32
// One argument quoted as the C runtime splits a command line.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
  if (!line.empty()) line += L' ';
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

fs::path ProgramFolder() {
  std::wstring buffer(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return {};
  buffer.resize(length);
  return fs::path(buffer).parent_path();
}
#else
fs::path ProgramFolder() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

std::optional<fs::path> OnPath(const EnvironmentLookup& environment, const char* name) {
  const std::optional<std::string> path = environment("PATH");
  if (!path) return std::nullopt;
  std::string_view rest(*path);
  while (true) {
    const std::size_t colon = rest.find(':');
    const std::string_view folder = rest.substr(0, colon);
    if (!folder.empty()) {
      const fs::path candidate = fs::path(std::string(folder)) / name;
      if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    if (colon == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(colon + 1);
  }
}

// The process group of the helper running now (0: none), for the handler of
// the stop signals: the helper runs in a group of its own, which Ctrl-C, a
// closed terminal or `timeout` do not reach, so a companion stopped while it
// waits stops the helper's group first and then dies by the same signal.
volatile sig_atomic_t helperGroup = 0;
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction previousActions[std::size(kStopSignals)];
int watchers = 0;  // runs under way, the outermost of which set the handler

void StopHelperAndDie(int signal) {
  const pid_t group = helperGroup;
  if (group > 0) ::kill(-group, SIGKILL);
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
    if (kStopSignals[i] == signal) ::sigaction(signal, &previousActions[i], nullptr);
  }
  ::raise(signal);
}

// Handles the stop signals a run's helper must not outlive, each not
// ignored already, while the run lasts. One thread at a time.
class StopSignals {
 public:
  StopSignals() : outerGroup_(helperGroup) {
    if (watchers++ > 0) return;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
      ::sigaction(kStopSignals[i], nullptr, &previousActions[i]);
      if (previousActions[i].sa_handler == SIG_IGN) continue;
      struct sigaction stop {};
      stop.sa_handler = StopHelperAndDie;
      ::sigemptyset(&stop.sa_mask);
      stop.sa_flags = SA_RESTART;
      ::sigaction(kStopSignals[i], &stop, nullptr);
    }
  }
  ~StopSignals() {
    helperGroup = outerGroup_;
    if (--watchers > 0) return;
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
      ::sigaction(kStopSignals[i], &previousActions[i], nullptr);
    }
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  void Watch(pid_t group) { helperGroup = group; }
  // In the forked child before exec: the default action for each signal
  // not ignored, so that none stops the group this handler knows.
  static void DefaultInChild() {
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
      if (previousActions[i].sa_handler != SIG_IGN) ::signal(kStopSignals[i], SIG_DFL);
    }
  }

 private:
  sig_atomic_t outerGroup_;
};
#endif

}  // namespace

#ifdef _WIN32
HelperOutcome RunObjectHelper(const ObjectHelperCommand& command, const std::string& progId,
                              std::chrono::milliseconds timeout,
                              const std::function<void()>& whileWaiting) {
  if (command.program.empty()) return HelperOutcome::NotStarted;
  std::wstring line;
  for (const std::string& part : command.program) AppendArgument(line, Wide(part));
  AppendArgument(line, Wide(progId));

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 65536)) return HelperOutcome::NotStarted;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  // This process's environment with the command's variables replaced.
  std::wstring environment;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
      const std::wstring text(entry);
      bool replaced = false;
      for (const auto& variable : command.environment) {
        const std::wstring prefix = Wide(variable.first) + L"=";
        replaced = replaced || _wcsnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
      }
      if (!replaced) environment.append(text).push_back(L'\0');
    }
    FreeEnvironmentStringsW(block);
  }
  for (const auto& [name, value] : command.environment) {
    environment.append(Wide(name) + L"=" + Wide(value)).push_back(L'\0');
  }
  environment.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = writeEnd;
  startup.hStdError = nullptr;
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                     CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT, environment.data(), nullptr,
                     &startup, &process);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return HelperOutcome::NotStarted;
  }
  CloseHandle(process.hThread);
  // ReadFile on an anonymous pipe blocks: only what the pipe holds is read,
  // and the wait is short while the helper is still writing.
  AnswerReader answer;
  auto drain = [&] {
    bool got = false;
    DWORD available = 0;
    while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
      char buffer[4096];
      DWORD read = 0;
      if (!ReadFile(readEnd, buffer, sizeof buffer < available ? sizeof buffer : available, &read,
                    nullptr) ||
          read == 0) {
        break;
      }
      answer.Feed(std::string_view(buffer, read));
      got = true;
    }
    return got;
  };
  Pump pump(whileWaiting);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool finished = false;
  for (DWORD wait = 0;; pump()) {
    if (WaitForSingleObject(process.hProcess, wait) == WAIT_OBJECT_0) {
      finished = true;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    wait = drain() ? 0 : static_cast<DWORD>(kStep.count());
  }
  HelperOutcome outcome = HelperOutcome::TimedOut;
  if (!finished) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
  } else {
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    drain();
    answer.Finish();
    outcome = Judge(status <= 1 ? static_cast<int>(status) : -1, answer);
  }
  CloseHandle(process.hProcess);
  CloseHandle(readEnd);
  return outcome;
}
#else
HelperOutcome RunObjectHelper(const ObjectHelperCommand& command, const std::string& progId,
                              std::chrono::milliseconds timeout,
                              const std::function<void()>& whileWaiting) {
  if (command.program.empty()) return HelperOutcome::NotStarted;
  std::vector<std::string> arguments = command.program;
  arguments.push_back(progId);
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  // Everything the child needs is made before the fork: between fork and
  // exec a threaded program may only make async-signal-safe calls.
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    bool replaced = false;
    for (const auto& variable : command.environment) {
      replaced = replaced || (text.starts_with(variable.first) &&
                              text.substr(variable.first.size()).starts_with('='));
    }
    if (!replaced) variables.emplace_back(text);
  }
  for (const auto& [name, value] : command.environment) variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  StopSignals stopSignals;
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return HelperOutcome::NotStarted;
  // No stop signal is handled between the fork and the moment the helper's
  // group is known, so that none leaves the helper behind.
  sigset_t stops, mask;
  ::sigemptyset(&stops);
  for (int signal : kStopSignals) ::sigaddset(&stops, signal);
  ::pthread_sigmask(SIG_BLOCK, &stops, &mask);
  const pid_t child = ::fork();
  if (child < 0) {
    ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    return HelperOutcome::NotStarted;
  }
  if (child == 0) {
    // Its own process group, so that whatever Wine starts for it is stopped with it.
    ::setpgid(0, 0);
    StopSignals::DefaultInChild();
    ::sigprocmask(SIG_SETMASK, &mask, nullptr);
    const int nothing = ::open("/dev/null", O_RDWR);
    if (nothing >= 0) {
      ::dup2(nothing, STDIN_FILENO);
      ::dup2(nothing, STDERR_FILENO);
    }
    ::dup2(pipeEnds[1], STDOUT_FILENO);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::setpgid(child, child);
  stopSignals.Watch(child);
  ::pthread_sigmask(SIG_SETMASK, &mask, nullptr);
  ::close(pipeEnds[1]);
  int output = pipeEnds[0];  // -1 once the helper's output has ended
  ::fcntl(output, F_SETFL, O_NONBLOCK);

  AnswerReader answer;
  // Reads what the pipe holds, at most a pipe's worth at a time, and closes
  // it at its end.
  auto drain = [&] {
    char buffer[4096];
    for (std::size_t total = 0; output >= 0 && total < 65536;) {
      const ssize_t got = ::read(output, buffer, sizeof buffer);
      if (got > 0) {
        answer.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
        total += static_cast<std::size_t>(got);
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return;
      } else {
        ::close(output);
        output = -1;
      }
    }
  };
  Pump pump(whileWaiting);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  bool finished = false;
  while (true) {
    const pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) {
      finished = true;
      break;
    }
    if (done < 0 && errno != EINTR) break;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    // Once the output has ended, poll ignores the descriptor and only waits.
    pollfd readable{output, POLLIN, 0};
    ::poll(&readable, 1, static_cast<int>(std::min(kStep, left).count()));
    drain();
    pump();
  }
  drain();
  if (output >= 0) ::close(output);
  if (!finished) {
    ::kill(-child, SIGKILL);
    ::kill(child, SIGKILL);
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return HelperOutcome::TimedOut;
  }
  answer.Finish();
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return HelperOutcome::NotStarted;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return Judge(code, answer);
}
#endif

std::optional<fs::path> FindObjectHelper() { return FindObjectHelper(ProcessVariable); }

std::optional<fs::path> FindObjectHelper(const EnvironmentLookup& environment) {
  if (auto chosen = environment("ORBEL_OBJECT_HELPER"); chosen && !chosen->empty()) {
    return ExistingFile(*chosen);
  }
  const fs::path folder = ProgramFolder();
  if (folder.empty()) return std::nullopt;
  if (auto beside = ExistingFile(folder / kObjectHelperName)) return beside;
  return ExistingFile(folder.parent_path() / "libexec" / "orbel" / kObjectHelperName);
}

std::optional<fs::path> FindWine() { return FindWine(ProcessVariable); }

std::optional<fs::path> FindWine([[maybe_unused]] const EnvironmentLookup& environment) {
#ifdef _WIN32
  return std::nullopt;
#else
  if (auto wine = OnPath(environment, "wine64")) return wine;
  if (::access("/usr/lib/wine/wine64", X_OK) == 0) return fs::path("/usr/lib/wine/wine64");
  return OnPath(environment, "wine");
#endif
}

HelperObjectCreation::HelperObjectCreation(ObjectHelperCommand command,
                                           std::function<void()> whileWaiting,
                                           std::chrono::milliseconds timeout)
    : command_(std::move(command)), whileWaiting_(std::move(whileWaiting)), timeout_(timeout) {}

bool HelperObjectCreation::TryCreate(const std::string& progId) {
  return RunObjectHelper(command_, progId, timeout_, whileWaiting_) == HelperOutcome::Created;
}

}  // namespace orbel::platform
