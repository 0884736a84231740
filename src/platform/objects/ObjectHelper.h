// The object test run by a helper program, orbel-object-test, in a process
// of its own: on Windows directly, elsewhere inside this computer's Wine
// prefix through Wine. A server that crashes or hangs then ends only the
// helper, and counts as a failed test.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/Environment.h"
#include "platform/objects/ObjectCreation.h"

namespace orbel::platform {

// How long a helper may take before it is stopped.
inline constexpr std::chrono::seconds kObjectHelperTimeout{30};

// The helper's file name.
inline constexpr const char* kObjectHelperName = "orbel-object-test.exe";

// The program to run, by its path: the helper itself, or Wine followed by the
// helper. The identifier to test is added as the last argument.
struct ObjectHelperCommand {
  std::vector<std::string> program;
  std::vector<std::pair<std::string, std::string>> environment;  // set for the helper only
};

enum class HelperOutcome {
  Created,     // "created" printed and status 0
  NotCreated,  // the helper ran and said so
  Crashed,     // ended without its answer (a crash, a kill, a bad status)
  TimedOut,    // stopped after the timeout
  NotStarted,  // the program could not be run
};

// Runs the helper for `progId` and waits at most `timeout`, calling
// `whileWaiting` (when given) about every 50 ms meanwhile. The helper's
// output is read as it comes, however much it writes. Off Windows, SIGINT,
// SIGTERM or SIGHUP arriving meanwhile stop the helper's process group, then
// act on this process as they would have. One thread at a time.
HelperOutcome RunObjectHelper(const ObjectHelperCommand& command, const std::string& progId,
                              std::chrono::milliseconds timeout,
                              const std::function<void()>& whileWaiting);

// The helper: $ORBEL_OBJECT_HELPER when set, else beside the running program,
// else in ../libexec/orbel/ from the program's folder. Nothing when none
// exists. `environment` reads the variables (the process's when not given).
std::optional<std::filesystem::path> FindObjectHelper();
std::optional<std::filesystem::path> FindObjectHelper(const EnvironmentLookup& environment);

// Wine's loader for 64-bit programs: wine64 on the PATH or in /usr/lib/wine,
// else wine on the PATH. Nothing when Wine is not installed.
std::optional<std::filesystem::path> FindWine();
std::optional<std::filesystem::path> FindWine(const EnvironmentLookup& environment);

// Runs each test through the helper; the three steps are taken there, so the
// step calls of this class fail.
class HelperObjectCreation : public ObjectCreation {
 public:
  HelperObjectCreation(ObjectHelperCommand command, std::function<void()> whileWaiting,
                       std::chrono::milliseconds timeout = kObjectHelperTimeout);
  bool TryCreate(const std::string& progId) override;
  bool ClassIdFromProgId(const std::string&, std::string&) override { return false; }
  bool CreateInstance(const std::string&, void*&) override { return false; }
  bool QueryDispatch(void*, void*&) override { return false; }
  void Release(void*) override {}

 private:
  ObjectHelperCommand command_;
  std::function<void()> whileWaiting_;
  std::chrono::milliseconds timeout_;
};

}  // namespace orbel::platform
