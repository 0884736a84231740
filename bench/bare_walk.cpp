// bare_walk: the bare libhivex walk of load_benchmark as a process of its own,
// and, with --against, the whole-process comparison of a catalogue program's
// `--summary` reading with it: wall time and peak resident memory (wait4) of
// each, taking turns. It stays small itself, because Linux counts into a
// child's peak what its parent held when it started it. Exits 1 when a bar is
// missed, 2 when it cannot measure.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "BareWalk.h"
#include "BenchTools.h"

namespace fs = std::filesystem;

namespace {

using orbel::bench::Clock;
using orbel::bench::Median;
using orbel::bench::MillisecondsSince;
using orbel::bench::RunProgram;
using orbel::bench::SetupError;

// The bars: the catalogue at most 3 times the walk, and its peak at most the
// hive's size plus 60 MiB.
constexpr double kMaxRatio = 3.0;
constexpr double kMemoryAllowanceMiB = 60.0;

struct Series {
  std::vector<double> ms;
  std::vector<double> residentMiB;
};

void RunOnce(const std::vector<std::string>& arguments, Series& series) {
  rusage usage{};
  const auto start = Clock::now();
  const int status = RunProgram(arguments, true, usage);
  const double ms = MillisecondsSince(start);
  if (status != 0) {
    throw SetupError(arguments[0] + " " + arguments.back() + ": exit status " +
                     std::to_string(status));
  }
  series.ms.push_back(ms);
  series.residentMiB.push_back(usage.ru_maxrss / 1024.0);
}

int Compare(const std::string& self, const std::string& catalogue,
            const std::vector<std::string>& hives, int runs) {
  bool pass = true;
  std::printf("%-36s %8s  %10s %10s %6s  %10s %10s %10s\n", "hive", "MiB", "catalogue", "bare",
              "ratio", "cat. MiB", "bare MiB", "bar MiB");
  for (const auto& hive : hives) {
    std::error_code ec;
    const double hiveMiB = static_cast<double>(fs::file_size(hive, ec)) / (1024.0 * 1024.0);
    if (ec) throw SetupError(hive + ": " + ec.message());
    const std::vector<std::string> summary{catalogue, "--summary", hive};
    const std::vector<std::string> walk{self, hive};
    Series cat, bare, untimed;
    // One untimed round brings the file into the page cache.
    RunOnce(summary, untimed);
    RunOnce(walk, untimed);
    for (int run = 0; run < runs; ++run) {
      if (run % 2 == 0) {
        RunOnce(summary, cat);
        RunOnce(walk, bare);
      } else {
        RunOnce(walk, bare);
        RunOnce(summary, cat);
      }
    }
    const double ratio = Median(cat.ms) / Median(bare.ms);
    const double catMiB = Median(cat.residentMiB);
    const double memoryBar = hiveMiB + kMemoryAllowanceMiB;
    std::printf("%-36s %8.1f  %10.1f %10.1f %6.2f  %10.1f %10.1f %10.1f\n",
                fs::path(hive).filename().c_str(), hiveMiB, Median(cat.ms), Median(bare.ms), ratio,
                catMiB, Median(bare.residentMiB), memoryBar);
    if (ratio > kMaxRatio) {
      std::printf("FAIL  %s: ratio %.2f > %.2f\n", hive.c_str(), ratio, kMaxRatio);
      pass = false;
    }
    if (catMiB > memoryBar) {
      std::printf("FAIL  %s: peak %.1f MiB > %.1f MiB\n", hive.c_str(), catMiB, memoryBar);
      pass = false;
    }
  }
  std::printf(
      "Medians of %d runs taking turns; milliseconds of wall time and peak resident "
      "memory of the whole process.\n%s\n",
      runs, pass ? "All bars met." : "A bar is missed.");
  return pass ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Walks Classes\\CLSID of a hive with libhivex; with --against, compares a "
      "catalogue program's --summary reading with that walk, as whole processes.",
      "bare_walk"};
  std::vector<std::string> hives;
  std::string catalogue;
  int runs = 5;
  app.add_option("hives", hives, "the hive(s) to read")->required()->check(CLI::ExistingFile);
  app.add_option("--against", catalogue,
                 "run this program with --summary on each hive, taking turns with the walk");
  app.add_option("--runs", runs, "timed runs of each (default 5)")->check(CLI::Range(1, 1000));
  CLI11_PARSE(app, argc, argv);

  try {
    if (!catalogue.empty()) {
      std::error_code ec;
      const fs::path self = fs::read_symlink("/proc/self/exe", ec);
      if (ec) throw SetupError("cannot find this program: " + ec.message());
      return Compare(self.string(), catalogue, hives, runs);
    }
    for (const auto& hive : hives) {
      const auto walk = orbel::bench::BareWalk(hive.c_str());
      if (!walk.opened) throw SetupError(hive + ": hivex cannot open it");
      std::printf("%s: %zu class keys, %zu bytes of default values\n", hive.c_str(), walk.classes,
                  walk.bytes);
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "bare_walk: " << e.what() << "\n";
    return 2;
  }
}
