// The object test in a helper process: what the helper did is judged from
// its status and its answer, a hanging one is stopped, only this computer's
// Wine prefix runs anything and is handed to the helper, and the real helper
// (on Windows, or through Wine in the prefix ORBEL_TEST_WINEPREFIX names)
// creates a known object, not a made-up one, and nothing for a registry
// that is not this computer's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "platform/objects/ObjectHelper.h"
#include "support/ScopedVariable.h"
#include "support/TempFolder.h"

#ifdef _WIN32
#include <objbase.h>
#endif

namespace orbel::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using orbel::testing::ScopedVariable;
using orbel::testing::TempFolder;

// An environment of exactly these variables.
[[maybe_unused]] EnvironmentLookup Only(std::map<std::string, std::string> variables) {
  return [variables = std::move(variables)](const char* name) -> std::optional<std::string> {
    const auto it = variables.find(name);
    if (it == variables.end()) return std::nullopt;
    return it->second;
  };
}

#ifndef _WIN32
TEST(ObjectHelper, OutcomesAreJudgedAndAHangingHelperIsStopped) {
  // Stand-ins for the helper: shell scripts, the identifier as $0.
  const struct {
    std::vector<std::string> program;
    HelperOutcome expected;
  } cases[] = {
      {{"/bin/sh", "-c", "test \"$0\" = Some.Object && echo created"}, HelperOutcome::Created},
      {{"/bin/sh", "-c", "echo 'not created: CLSIDFromProgID 0x800401f3'; exit 1"},
       HelperOutcome::NotCreated},
      {{"/bin/sh", "-c", "echo created; exit 1"}, HelperOutcome::Crashed},
      {{"/bin/sh", "-c", "echo created; kill -SEGV $$"}, HelperOutcome::Crashed},
      {{"/bin/sh", "-c", "exit 0"}, HelperOutcome::Crashed},
      {{"/bin/sh", "-c", "exec sleep 600"}, HelperOutcome::TimedOut},
      // A helper that said much filled the pipe and was stopped; one that
      // closed its output was waited for in a busy loop.
      {{"/bin/sh", "-c", "head -c 1048576 /dev/zero; echo; echo created"}, HelperOutcome::Created},
      {{"/bin/sh", "-c", "exec >&-; exec sleep 600"}, HelperOutcome::TimedOut},
      {{"/no/such/helper"}, HelperOutcome::NotStarted},
  };
  for (const auto& c : cases) {
    const bool hangs = c.expected == HelperOutcome::TimedOut;
    int waits = 0;
    const HelperOutcome outcome =
        RunObjectHelper({c.program, {}}, "Some.Object", hangs ? 300ms : 30s, [&] { ++waits; });
    EXPECT_EQ(outcome, c.expected) << c.program.back();
    if (hangs) {
      EXPECT_GT(waits, 0) << "the caller keeps running while it waits";
      EXPECT_LE(waits, 300 / 50 + 1) << c.program.back() << ": called about every 50 ms, no more";
    }
  }
}

// The helper runs in a process group of its own, which Ctrl-C or `timeout`
// do not reach: it kept running when its caller was stopped by a signal.
TEST(ObjectHelper, ACallerStoppedByASignalStopsItsHelperFirst) {
  TempFolder folder;
  const fs::path record = folder.path() / "helper.pid";
  const pid_t caller = ::fork();
  ASSERT_GE(caller, 0);
  if (caller == 0) {
    RunObjectHelper({{"/bin/sh", "-c", "echo $$ >'" + record.string() + "'; exec sleep 600"}, {}},
                    "Some.Object", 60s, {});
    ::_exit(0);
  }
  // The helper's process id, which is its group's; waited for at most 10 s.
  auto helperState = [](pid_t helper) {
    std::ifstream stat("/proc/" + std::to_string(helper) + "/stat");
    std::string pid, name, state;
    stat >> pid >> name >> state;
    return state;
  };
  pid_t helper = 0;
  for (int tries = 0; tries < 1000 && helper == 0; ++tries) {
    std::ifstream(record) >> helper;
    if (helper == 0) std::this_thread::sleep_for(10ms);
  }
  ::kill(caller, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(caller, &status, 0), caller);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  ASSERT_GT(helper, 0) << "the helper did not start";
  std::string state = helperState(helper);
  for (int tries = 0; tries < 1000 && state != "" && state != "Z"; ++tries) {
    std::this_thread::sleep_for(10ms);
    state = helperState(helper);
  }
  EXPECT_TRUE(state == "" || state == "Z") << "the helper still runs: " << state;
  if (state != "" && state != "Z") ::kill(-helper, SIGKILL);
}

// Wine stood in for by a script that records the prefix, helper and object
// it is given and creates anything. This process's WINEPREFIX is a decoy, so
// a run records which prefix the object test handed over.
TEST(ObjectHelper, OnlyThisComputersPrefixRunsAndTheHelperIsHandedIt) {
  TempFolder folder;
  const std::string registry = "WINE REGISTRY Version 2\n";
  const fs::path prefix = folder.Write("prefix/system.reg", registry).parent_path();
  const fs::path home = folder.Write("home/.wine/system.reg", registry).parent_path().parent_path();
  const fs::path helper = folder.Write(kObjectHelperName, "");
  const fs::path record = folder.path() / "runs";
  const fs::path wine = folder.Write("bin/wine64", "#!/bin/sh\necho \"$WINEPREFIX $1 $2\" >>'" +
                                                       record.string() + "'\necho created\n");
  fs::permissions(wine, fs::perms::owner_all);
  ScopedVariable decoy("WINEPREFIX", "/decoy");

  const std::string ran = " " + helper.string() + " Some.Object\n";
  const struct {
    bool thisComputer;
    std::map<std::string, std::string> environment;
    std::string runs;
  } cases[] = {
      {true, {{"WINEPREFIX", prefix.string()}}, prefix.string() + ran},
      {true, {{"HOME", home.string()}}, (home / ".wine").string() + ran},
      // An image or a connected computer: nothing of it is run.
      {false, {{"WINEPREFIX", prefix.string()}}, ""},
      // This computer read from a file named by ORBEL_REGISTRY: no prefix to run in.
      {true,
       {{"WINEPREFIX", prefix.string()}, {"ORBEL_REGISTRY", (prefix / "system.reg").string()}},
       ""},
  };
  for (const auto& c : cases) {
    fs::remove(record);
    auto variables = c.environment;
    variables["PATH"] = wine.parent_path().string();
    variables["ORBEL_OBJECT_HELPER"] = helper.string();
    const bool created =
        ObjectCreationFor(c.thisComputer, {}, Only(variables))->TryCreate("Some.Object");
    std::ifstream file(record);
    const std::string runs{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(runs, c.runs) << c.environment.begin()->second;
    EXPECT_EQ(created, !c.runs.empty()) << c.environment.begin()->second;
  }
}
#endif

TEST(ObjectHelper, TheHelperCreatesAKnownObjectOnlyForThisComputer) {
#ifndef ORBEL_TEST_OBJECT_HELPER
  GTEST_SKIP() << "no object test helper in this build";
#else
  if (!fs::exists(ORBEL_TEST_OBJECT_HELPER)) GTEST_SKIP() << "no " << ORBEL_TEST_OBJECT_HELPER;
  const struct {
    bool thisComputer;
    const char* helper;
    const char* progId;
    bool created;
  } cases[] = {
      {true, ORBEL_TEST_OBJECT_HELPER, "Scripting.Dictionary", true},
      {true, ORBEL_TEST_OBJECT_HELPER, "Orbel.MadeUpName.7", false},
#ifdef _WIN32
      // Without the helper the steps are taken in this process.
      {true, "Z:\\no\\such\\helper.exe", "Scripting.Dictionary", true},
      {true, "Z:\\no\\such\\helper.exe", "Orbel.MadeUpName.7", false},
#else
      {false, ORBEL_TEST_OBJECT_HELPER, "Scripting.Dictionary", false},
#endif
  };
#ifdef _WIN32
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
#else
  const char* prefix = std::getenv("ORBEL_TEST_WINEPREFIX");
  if (!prefix || !*prefix) GTEST_SKIP() << "ORBEL_TEST_WINEPREFIX is not set";
  if (!FindWine()) GTEST_SKIP() << "Wine is not installed";
  // The prefix reaches Wine only as the object test hands it over: this
  // process's own WINEPREFIX is a file, which Wine refuses at once.
  ScopedVariable decoy("WINEPREFIX", "/dev/null");
#endif
  for (const auto& c : cases) {
    std::map<std::string, std::string> variables{{"ORBEL_OBJECT_HELPER", c.helper}};
#ifndef _WIN32
    variables["WINEPREFIX"] = prefix;
    if (const char* path = std::getenv("PATH")) variables["PATH"] = path;
#endif
    EXPECT_EQ(ObjectCreationFor(c.thisComputer, {}, Only(variables))->TryCreate(c.progId),
              c.created)
        << c.progId << " through " << c.helper << (c.thisComputer ? "" : " for another computer");
  }
#ifdef _WIN32
  CoUninitialize();
#endif
#endif
}

}  // namespace
}  // namespace orbel::platform
