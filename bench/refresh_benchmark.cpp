// refresh_benchmark: the main window's Refresh over the 20,000-class hive,
// from the command to a filled tree, against the wall time of
// `orbel-catalogue --summary` on the same hive; then the time the window takes
// to list the rows of each object of one category when it is selected. Runs
// offscreen. Exits 1 when a bar is missed, 2 when it cannot measure.

#include <QApplication>
#include <QTreeWidgetItem>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchTools.h"
#include "catalogue/COLESettingsUnit.h"
#include "platform/api/PortableRegistry.h"
#include "platform/computer/LocalImage.h"
#include "registry/RegIniFile.h"
#include "support/FakeScreen.h"
#include "ui/AttributeListView.h"
#include "ui/MainWindowUnit.h"
#include "ui/ObjectTreeView.h"

namespace fs = std::filesystem;

namespace {

using orbel::bench::Best;
using orbel::bench::Clock;
using orbel::bench::Median;
using orbel::bench::MillisecondsSince;
using orbel::bench::RunProgram;
using orbel::bench::SetupError;

constexpr std::size_t kClasses = 20'000;

// The bars.
constexpr double kMaxRatio = 1.5;
constexpr double kMaxSelectionMs = 50.0;

// The orbel-catalogue built beside this program: ../src/orbel-catalogue
// relative to its own folder.
std::string DefaultCatalogueProgram() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return "orbel-catalogue";
  return (self.parent_path().parent_path() / "src" / "orbel-catalogue").string();
}

// This computer's registry with the hive as its image and an in-memory
// HKEY_CURRENT_USER that says the first start is over, so that no question
// is asked.
std::unique_ptr<orbel::platform::PortableRegistry> MakeRegistry(const fs::path& hive) {
  auto registry = std::make_unique<orbel::platform::PortableRegistry>();
  orbel::platform::SetUpPortableRegistry(*registry, {hive, "bench"});
  orbel::TRegIniFile settings(*registry, orbel::kProgramKey);
  settings.WriteFlag("General", "First Start", false);
  return registry;
}

// The object nodes (level 2) below each category node (level 1).
std::vector<std::pair<std::string, std::vector<orbel::TreeNode>>> Categories(
    const orbel::TObjectTreeView& tree) {
  std::vector<std::pair<std::string, std::vector<orbel::TreeNode>>> categories;
  for (orbel::TreeNode node = tree.First(); node; node = tree.Next(node)) {
    const int level = tree.Level(node);
    if (level == 1) {
      categories.push_back({orbel::TObjectTreeView::ItemOf(node)->text(0).toStdString(), {}});
    } else if (level == 2 && !categories.empty() && tree.Data(node)) {
      categories.back().second.push_back(node);
    }
  }
  return categories;
}

std::size_t ObjectNodes(const orbel::TObjectTreeView& tree) {
  std::size_t count = 0;
  for (const auto& category : Categories(tree)) count += category.second.size();
  return count;
}

// (a) Refresh in a fresh window over a fresh registry, so that the image is
// opened and read inside the timed command as the child process does.
double TimeRefresh(const fs::path& hive) {
  auto registry = MakeRegistry(hive);
  orbel::TMainWindow window(*registry);
  const auto start = Clock::now();
  window.mnuViewRefreshClick();
  QCoreApplication::processEvents();
  const double ms = MillisecondsSince(start);
  const auto& catalogue = window.COLESettings();
  if (!catalogue.ReadProblem.empty() || catalogue.EntryCount() != static_cast<int>(kClasses) ||
      ObjectNodes(*window.TreeViewObjects) == 0) {
    throw SetupError(hive.string() + ": the window read " +
                     std::to_string(catalogue.EntryCount()) + " of " + std::to_string(kClasses) +
                     " classes " + catalogue.ReadProblem);
  }
  return ms;
}

// (b) Wall time of `orbel-catalogue --summary <hive>` as a child process.
double TimeCatalogueProgram(const std::string& program, const fs::path& hive) {
  rusage usage{};
  const auto start = Clock::now();
  const int status = RunProgram({program, "--summary", hive.string()}, true, usage);
  const double ms = MillisecondsSince(start);
  if (status != 0) throw SetupError(program + " --summary " + hive.string() + " failed");
  return ms;
}

struct Selections {
  std::string category;
  std::vector<double> times;
  std::size_t rows = 0;
};

// Selects every object node of the category with the most objects (or the
// one named `wanted`) through the tree's selection handler, timing each.
Selections TimeSelections(const fs::path& hive, const std::string& wanted) {
  auto registry = MakeRegistry(hive);
  orbel::TMainWindow window(*registry);
  window.mnuViewRefreshClick();
  QCoreApplication::processEvents();
  orbel::TObjectTreeView& tree = *window.TreeViewObjects;
  const auto categories = Categories(tree);
  const std::pair<std::string, std::vector<orbel::TreeNode>>* chosen = nullptr;
  for (const auto& category : categories) {
    if (wanted.empty() ? (!chosen || category.second.size() > chosen->second.size())
                       : category.first == wanted) {
      chosen = &category;
    }
  }
  if (!chosen || chosen->second.empty()) {
    throw SetupError(wanted.empty() ? "the tree has no object nodes"
                                    : "no category \"" + wanted + "\" with object nodes");
  }
  Selections result{chosen->first, {}, 0};
  result.times.reserve(chosen->second.size());
  for (const orbel::TreeNode node : chosen->second) {
    const auto start = Clock::now();
    tree.RunSelectionHandler(node);
    QCoreApplication::processEvents();
    result.times.push_back(MillisecondsSince(start));
    result.rows += static_cast<std::size_t>(window.ListViewValues->Model()->rowCount());
  }
  if (result.rows == 0) throw SetupError("no object listed any row");
  return result;
}

int Run(const fs::path& hive, const std::string& program, int runs, const std::string& category) {
#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__)
  std::cout << "Warning: built without optimisation or with sanitizers; the figures say "
               "little.\n";
#endif
  std::error_code ec;
  if (!fs::is_regular_file(hive, ec)) {
    throw SetupError("no hive " + hive.string() +
                     "; run load_benchmark first, which generates it");
  }
  if (::access(program.c_str(), X_OK) != 0) {
    throw SetupError("no program " + program + "; build orbel-catalogue or pass --catalogue");
  }

  // One untimed round brings the file into the page cache; then the two
  // take turns, so that a slow spell of the machine hits both alike.
  TimeRefresh(hive);
  TimeCatalogueProgram(program, hive);
  std::vector<double> refresh, child;
  for (int run = 0; run < runs; ++run) {
    if (run % 2 == 0) {
      refresh.push_back(TimeRefresh(hive));
      child.push_back(TimeCatalogueProgram(program, hive));
    } else {
      child.push_back(TimeCatalogueProgram(program, hive));
      refresh.push_back(TimeRefresh(hive));
    }
  }
  const double ratio = Best(refresh) / Best(child);
  std::printf("\n%s, %zu classes, best of %d runs (median in brackets):\n",
              hive.string().c_str(), kClasses, runs);
  std::printf("  window Refresh             %8.1f ms (%8.1f)\n", Best(refresh), Median(refresh));
  std::printf("  orbel-catalogue --summary  %8.1f ms (%8.1f)\n", Best(child), Median(child));
  std::printf("  ratio                      %8.2f\n", ratio);

  const Selections selections = TimeSelections(hive, category);
  const double median = Median(selections.times);
  const double worst = *std::max_element(selections.times.begin(), selections.times.end());
  std::printf("\nSelecting each of the %zu objects of \"%s\" (%zu rows in all):\n",
              selections.times.size(), selections.category.c_str(), selections.rows);
  std::printf("  median %.2f ms, worst %.2f ms\n\n", median, worst);

  bool pass = true;
  auto bar = [&pass](bool met, const std::string& text) {
    std::printf("%s  %s\n", met ? "pass" : "FAIL", text.c_str());
    pass = pass && met;
  };
  char line[160];
  std::snprintf(line, sizeof line, "Refresh / orbel-catalogue %.2f <= %.2f", ratio, kMaxRatio);
  bar(ratio <= kMaxRatio, line);
  std::snprintf(line, sizeof line, "worst selection %.2f ms < %.0f ms", worst, kMaxSelectionMs);
  bar(worst < kMaxSelectionMs, line);
  return pass ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);

  fs::path hive = "/tmp/orbel-bench/software-20000.hiv";
  std::string program = DefaultCatalogueProgram();
  std::string category;
  int runs = 5;
  const std::string usage =
      "usage: refresh_benchmark [--hive FILE] [--catalogue PATH] [--runs N] [--category NAME]\n";
  const QStringList arguments = QCoreApplication::arguments();
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const std::string option = arguments[i].toStdString();
    if (option == "--help" || option == "-h") {
      std::cout << usage;
      return 0;
    }
    if (i + 1 >= arguments.size()) {
      std::cerr << usage;
      return 2;
    }
    const std::string value = arguments[++i].toStdString();
    if (option == "--hive") {
      hive = value;
    } else if (option == "--catalogue") {
      program = value;
    } else if (option == "--category") {
      category = value;
    } else if (option == "--runs" && std::atoi(value.c_str()) > 0) {
      runs = std::atoi(value.c_str());
    } else {
      std::cerr << usage;
      return 2;
    }
  }

  orbel::testing::FakeScreen screen;
  try {
    return Run(hive, program, runs, category);
  } catch (const std::exception& e) {
    std::cerr << "refresh_benchmark: " << e.what() << "\n";
    return 2;
  }
}
