#include "platform/ObjectHelper.h"

#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/Text.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace orbel::platform {
namespace {

constexpr std::chrono::milliseconds kStep{50};
// The helper's answer is one short line; more is not read.
constexpr std::size_t kMaxAnswer = 4096;

HelperOutcome Judge(int status, const std::string& answer) {
  if (status == 0 && answer.rfind("created", 0) == 0) return HelperOutcome::Created;
  if (status == 1 && answer.rfind("not created", 0) == 0) return HelperOutcome::NotCreated;
  return HelperOutcome::Crashed;
}

std::optional<fs::path> ExistingFile(const fs::path& path) {
  std::error_code ec;
  if (!path.empty() && fs::is_regular_file(path, ec)) return path;
  return std::nullopt;
}

#ifdef _WIN32
std::wstring Wide(std::string_view text) {
  const std::vector<std::byte> units = Utf8ToUtf16Le(text);
  std::wstring wide(units.size() / sizeof(wchar_t), L'\0');
  std::memcpy(wide.data(), units.data(), wide.size() * sizeof(wchar_t));
  return wide;
}

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

std::optional<fs::path> OnPath(const char* name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  std::string_view rest(path);
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
  for (const auto& [name, value] : command.environment) {
    SetEnvironmentVariableW(Wide(name).c_str(), Wide(value).c_str());
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = writeEnd;
  startup.hStdError = nullptr;
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
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
    for (const auto& [name, value] : command.environment) ::setenv(name.c_str(), value.c_str(), 1);
    ::execvp(argv[0], argv.data());
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

std::optional<fs::path> FindObjectHelper() {
  if (const char* chosen = std::getenv("ORBEL_OBJECT_HELPER"); chosen && *chosen) {
    return ExistingFile(chosen);
  }
  const fs::path folder = ProgramFolder();
  if (folder.empty()) return std::nullopt;
  if (auto beside = ExistingFile(folder / kObjectHelperName)) return beside;
  return ExistingFile(folder.parent_path() / "libexec" / "orbel" / kObjectHelperName);
}

std::optional<fs::path> FindWine() {
#ifdef _WIN32
  return std::nullopt;
#else
  if (auto wine = OnPath("wine64")) return wine;
  if (::access("/usr/lib/wine/wine64", X_OK) == 0) return fs::path("/usr/lib/wine/wine64");
  return OnPath("wine");
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
