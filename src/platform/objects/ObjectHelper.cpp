#include "platform/objects/ObjectHelper.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include "platform/base/WindowsApi.h"

#include "platform/base/Text.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace fs = std::filesystem;

namespace orbel::platform {
namespace {

constexpr std::chrono::milliseconds kStep{50};
// The helper's answer is one short line; more is not read.
constexpr std::size_t kMaxAnswer = 4096;

// Whether a line of the helper's output begins with `word`.
bool SaysLine(const std::string& answer, std::string_view word) {
  for (std::size_t start = 0; start < answer.size();) {
    if (answer.compare(start, word.size(), word) == 0) return true;
    const std::size_t end = answer.find('\n', start);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return false;
}

// A helper that crashed may have printed anything; only its answer together
// with the matching status counts.
HelperOutcome Judge(int status, const std::string& answer) {
  if (status == 0 && SaysLine(answer, "created")) return HelperOutcome::Created;
  if (status == 1 && SaysLine(answer, "not created")) return HelperOutcome::NotCreated;
  return HelperOutcome::Crashed;
}

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
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return HelperOutcome::NotStarted;
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
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool finished = false;
  while (true) {
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(kStep.count())) == WAIT_OBJECT_0) {
      finished = true;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) break;
    if (whileWaiting) whileWaiting();
  }
  HelperOutcome outcome = HelperOutcome::TimedOut;
  if (!finished) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, INFINITE);
  } else {
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    std::string answer;
    DWORD available = 0;
    while (answer.size() < kMaxAnswer && PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) &&
           available > 0) {
      char buffer[512];
      DWORD got = 0;
      if (!ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
      answer.append(buffer, got);
    }
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

  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return HelperOutcome::NotStarted;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    return HelperOutcome::NotStarted;
  }
  if (child == 0) {
    // Its own process group, so that whatever Wine starts for it is stopped with it.
    ::setpgid(0, 0);
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
  ::close(pipeEnds[1]);
  ::fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);

  std::string answer;
  auto drain = [&] {
    char buffer[512];
    ssize_t got = 0;
    while (answer.size() < kMaxAnswer && (got = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
      answer.append(buffer, static_cast<std::size_t>(got));
    }
  };
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
    if (std::chrono::steady_clock::now() >= deadline) break;
    pollfd readable{pipeEnds[0], POLLIN, 0};
    ::poll(&readable, 1, static_cast<int>(kStep.count()));
    drain();
    if (whileWaiting) whileWaiting();
  }
  drain();
  ::close(pipeEnds[0]);
  if (!finished) {
    ::kill(-child, SIGKILL);
    ::kill(child, SIGKILL);
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return HelperOutcome::TimedOut;
  }
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
