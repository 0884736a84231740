// load_benchmark: how long the catalogue takes to read every class of a hive,
// against the least work libhivex needs to read the same values, for hives of
// 2,000, 20,000 and 50,000 classes; and the peak memory of orbel-catalogue on
// the 20,000-class hive. Exits 1 when a bar is missed, 2 when it cannot
// measure.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BareWalk.h"
#include "BenchTools.h"
#include "catalogue/COLESettingsUnit.h"
#include "catalogue/PlainControls.h"
#include "platform/api/PortableRegistry.h"
#include "platform/computer/LocalImage.h"
#include "tools/Vell_Tools.h"

namespace fs = std::filesystem;

namespace {

using orbel::bench::Best;
using orbel::bench::Clock;
using orbel::bench::Median;
using orbel::bench::MillisecondsSince;
using orbel::bench::RunProgram;
using orbel::bench::SetupError;

constexpr std::size_t kSizes[] = {2'000, 20'000, 50'000};
constexpr std::size_t kMemorySize = 20'000;
constexpr int kFixedImages = 17;

// The bars.
constexpr double kMaxRatio = 3.0;
constexpr double kMaxRatioGrowth = 1.25;
constexpr long kMaxResidentKiB = 100 * 1024;

class NoIcons : public orbel::IconExtractor {
 public:
  orbel::platform::ExtractedIcon Extract(const std::string&, std::int32_t) override { return {}; }
};

// No boxes: questions are answered No, messages are dropped.
class QuietScreen : public orbel::Screen {
 public:
  bool ShowMessage(orbel::MessageKind, const std::string&, const std::string&) override {
    return false;
  }
  void SetCursorBusy(bool) override {}
  void ProcessPendingEvents() override {}
  std::vector<std::string> FontFamilies() override { return {}; }
  void OpenWithShell(const std::string&) override {}
};

// (a) The catalogue's reading of the hive, as the command-line companion
// drives it: open the image, read every class, sort, count, build the tree.
double TimeCatalogue(const fs::path& hive, std::size_t classes) {
  orbel::platform::PortableRegistry registry;
  orbel::platform::SetUpPortableRegistry(
      registry, {orbel::platform::SampleRegistryPath(), "sample registry"});
  orbel::PlainTree tree;
  orbel::PlainProgress progress;
  orbel::PlainList list;
  orbel::PlainImages small(kFixedImages), large(kFixedImages);
  orbel::CatalogueWindows windows{&registry,
                                  &progress,
                                  &tree,
                                  &list,
                                  &small,
                                  &large,
                                  nullptr,
                                  [](orbel::platform::RegistryApi&, orbel::platform::HKey) {
                                    return std::make_shared<NoIcons>();
                                  }};
  orbel::TCOLESettings catalogue(windows);
  catalogue.RequestedComputer = hive.string();
  const auto start = Clock::now();
  catalogue.LoadCatalogue();
  const double ms = MillisecondsSince(start);
  if (!catalogue.ReadProblem.empty() || catalogue.EntryCount() != static_cast<int>(classes)) {
    throw SetupError(hive.string() + ": the catalogue read " +
                     std::to_string(catalogue.EntryCount()) + " of " + std::to_string(classes) +
                     " classes " + catalogue.ReadProblem);
  }
  return ms;
}

// (b) The least work libhivex needs for the same values (BareWalk.h).
double TimeBareWalk(const fs::path& hive, std::size_t classes) {
  const auto start = Clock::now();
  const auto walk = orbel::bench::BareWalk(hive.c_str());
  const double ms = MillisecondsSince(start);
  if (!walk.opened) throw SetupError(hive.string() + ": hivex cannot open it");
  if (walk.classes != classes || walk.bytes == 0) {
    throw SetupError(hive.string() + ": the bare walk found " + std::to_string(walk.classes) +
                     " of " + std::to_string(classes) + " class keys");
  }
  return ms;
}

// Peak resident memory of the command-line companion reading the hive, in
// KiB. Linux counts into a child's peak what its parent held when it was
// started, so this runs while the benchmark itself is still small.
long PeakResidentKiB(const std::string& program, const fs::path& hive) {
  rusage usage{};
  const int status = RunProgram({program, "--summary", hive.string()}, true, usage);
  if (status != 0) {
    throw SetupError(program + " --summary " + hive.string() + ": exit status " +
                     std::to_string(status));
  }
  return usage.ru_maxrss;
}

struct Figures {
  std::size_t classes = 0;
  std::vector<double> catalogue;
  std::vector<double> bare;
};

struct Programs {
  std::string catalogue = ORBEL_CATALOGUE_PROGRAM;
  std::string generator = ORBEL_GENERATOR_PROGRAM;
};

// The hive of `classes` classes in the cache, generated when missing. The
// generator runs as its own process, so that its memory never counts as the
// benchmark's.
fs::path CachedHive(const fs::path& cache, std::size_t classes, const std::string& source,
                    const Programs& programs, bool regenerate) {
  const fs::path hive = cache / ("software-" + std::to_string(classes) + ".hiv");
  std::error_code ec;
  if (!regenerate && fs::is_regular_file(hive, ec)) return hive;
  fs::create_directories(cache, ec);
  std::vector<std::string> arguments{programs.generator, "--classes", std::to_string(classes),
                                     "--out", hive.string()};
  if (!source.empty()) arguments.insert(arguments.end(), {"--source", source});
  std::cout << "Generating " << hive.string() << "\n" << std::flush;
  rusage usage{};
  if (RunProgram(arguments, false, usage) != 0) {
    throw SetupError("cannot generate " + hive.string());
  }
  return hive;
}

int Run(const fs::path& cache, const std::string& source, int runs, const Programs& programs,
        bool regenerate) {
#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__)
  std::cout << "Warning: built without optimisation or with sanitizers; the figures say "
               "little.\n";
#endif
  std::vector<fs::path> hives;
  std::vector<Figures> figures;
  std::size_t memoryAt = 0;
  for (const std::size_t classes : kSizes) {
    if (classes == kMemorySize) memoryAt = hives.size();
    hives.push_back(CachedHive(cache, classes, source, programs, regenerate));
    figures.push_back({classes, {}, {}});
  }
  const long resident = PeakResidentKiB(programs.catalogue, hives[memoryAt]);

  QuietScreen screen;
  orbel::SetScreen(&screen);

  // One untimed round brings the files into the page cache; then the two
  // readings alternate, each size in turn, so that a slow spell of the
  // machine hits both alike.
  for (std::size_t i = 0; i < hives.size(); ++i) {
    TimeCatalogue(hives[i], figures[i].classes);
    TimeBareWalk(hives[i], figures[i].classes);
  }
  for (int run = 0; run < runs; ++run) {
    for (std::size_t i = 0; i < hives.size(); ++i) {
      if (run % 2 == 0) {
        figures[i].catalogue.push_back(TimeCatalogue(hives[i], figures[i].classes));
        figures[i].bare.push_back(TimeBareWalk(hives[i], figures[i].classes));
      } else {
        figures[i].bare.push_back(TimeBareWalk(hives[i], figures[i].classes));
        figures[i].catalogue.push_back(TimeCatalogue(hives[i], figures[i].classes));
      }
    }
  }

  std::printf("\nBest of %d runs (median in brackets), milliseconds:\n", runs);
  std::printf("%8s  %22s  %22s  %7s\n", "N", "catalogue ms", "bare ms", "ratio");
  std::vector<double> ratios;
  for (const auto& f : figures) {
    const double ratio = Best(f.catalogue) / Best(f.bare);
    ratios.push_back(ratio);
    std::printf("%8zu  %10.1f (%9.1f)  %10.1f (%9.1f)  %7.2f\n", f.classes, Best(f.catalogue),
                Median(f.catalogue), Best(f.bare), Median(f.bare), ratio);
  }

  std::printf("\nPeak resident memory of orbel-catalogue --summary (%zu classes): %.1f MiB\n",
              kMemorySize, resident / 1024.0);

  bool pass = true;
  auto bar = [&pass](bool met, const std::string& text) {
    std::printf("%s  %s\n", met ? "pass" : "FAIL", text.c_str());
    pass = pass && met;
  };
  char line[160];
  std::printf("\n");
  std::snprintf(line, sizeof line, "ratio at %zu classes %.2f <= %.2f", figures[1].classes,
                ratios[1], kMaxRatio);
  bar(ratios[1] <= kMaxRatio, line);
  std::snprintf(line, sizeof line, "ratio at %zu classes %.2f <= %.2f x ratio at %zu (%.2f)",
                figures[2].classes, ratios[2], kMaxRatioGrowth, figures[0].classes,
                kMaxRatioGrowth * ratios[0]);
  bar(ratios[2] <= kMaxRatioGrowth * ratios[0], line);
  std::snprintf(line, sizeof line, "peak resident memory %.1f MiB <= %ld MiB", resident / 1024.0,
                kMaxResidentKiB / 1024);
  bar(resident <= kMaxResidentKiB, line);
  return pass ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Measures the catalogue's reading of large hives against a bare libhivex walk.",
               "load_benchmark"};
  std::string cache = "/tmp/orbel-bench";
  std::string source;
  Programs programs;
  int runs = 5;
  bool regenerate = false;
  app.add_option("--cache", cache, "folder of the generated hives (default /tmp/orbel-bench)");
  app.add_option("--source", source,
                 "registry the hives are generated from (default: $WINEPREFIX, else "
                 "/tmp/orbel-wineprefix, else the sample registry)");
  app.add_option("--runs", runs, "timed runs of each reading (default 5)")
      ->check(CLI::Range(1, 1000));
  app.add_option("--catalogue", programs.catalogue, "the orbel-catalogue program to measure");
  app.add_option("--generator", programs.generator, "the orbel-generate-hive program to use");
  app.add_flag("--regenerate", regenerate, "generate the hives even when the cache holds them");
  CLI11_PARSE(app, argc, argv);

  try {
    return Run(cache, source, runs, programs, regenerate);
  } catch (const std::exception& e) {
    std::cerr << "load_benchmark: " << e.what() << "\n";
    return 2;
  }
}
