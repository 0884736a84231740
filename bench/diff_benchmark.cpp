// diff_benchmark: how long `orbel-catalogue SOURCE --diff OTHER` takes on two
// 20,000-class hives that differ by one class added, one removed and one
// changed, against reading one of them. Bar: at most 3 times one reading.
// Exits 1 when the bar is missed, 2 when it cannot measure.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "BenchTools.h"
#include "HiveGenerator.h"
#include "cli/CatalogueCommand.h"
#include "platform/api/PortableRegistry.h"
#include "platform/computer/LocalImage.h"
#include "support/RegfWriter.h"

namespace fs = std::filesystem;

namespace {

using orbel::bench::Clock;
using orbel::bench::Median;
using orbel::bench::MillisecondsSince;
using orbel::bench::SetupError;

constexpr std::size_t kClasses = 20'000;
constexpr double kMaxRatio = 3.0;

// Runs the companion in this process; its standard output.
std::string Companion(std::vector<std::string> args, double& ms) {
  orbel::platform::PortableRegistry registry;
  orbel::platform::SetUpPortableRegistry(
      registry, {orbel::platform::SampleRegistryPath(), "sample registry"});
  args.insert(args.begin(), "orbel-catalogue");
  std::vector<const char*> argv;
  for (const auto& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, err;
  const auto start = Clock::now();
  const int status =
      orbel::RunCatalogueCommand(static_cast<int>(argv.size()), argv.data(), registry, out, err);
  ms = MillisecondsSince(start);
  if (status != 0) throw SetupError("orbel-catalogue failed: " + err.str());
  return out.str();
}

// The earlier hive, and the later one: its first class removed, its second
// class's server changed and one class added.
void WriteHives(const fs::path& source, const fs::path& before, const fs::path& after) {
  std::string error;
  const auto registrations = orbel::LoadHiveSource(source, error);
  if (!registrations) throw SetupError(error);
  auto tree = orbel::BuildSoftwareTree(*registrations, kClasses);
  orbel::platform::RegfWriteOptions options;
  if (!orbel::platform::WriteRegfHiveFile(before, *tree, tree->RootNode(), options, error)) {
    throw SetupError(error);
  }
  const auto clsid = tree->Find("Classes\\CLSID");
  std::string first, second;
  if (!clsid || tree->SubkeyName(*clsid, 0, first) != 0 ||
      tree->SubkeyName(*clsid, 1, second) != 0) {
    throw SetupError("the generated hive has no classes");
  }
  tree->RemoveKey(*tree->Find("Classes\\CLSID\\" + first));
  tree->PutString(tree->EnsurePath("Classes\\CLSID\\" + second + "\\InprocServer32"), "",
                  "C:\\Users\\Public\\changed.dll");
  const auto added = tree->EnsurePath("Classes\\CLSID\\{0D1FF000-0000-4000-8000-000000000001}");
  tree->PutString(added, "", "Added by the benchmark");
  if (!orbel::platform::WriteRegfHiveFile(after, *tree, tree->RootNode(), options, error)) {
    throw SetupError(error);
  }
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Times orbel-catalogue --diff on two 20,000-class hives against one reading."};
  std::string cache = "/tmp/orbel-bench";
  std::string source;
  int runs = 5;
  app.add_option("--cache", cache, "where the hives are kept");
  app.add_option("--source", source, "the registry the hives are made from");
  app.add_option("--runs", runs, "timed runs of each")->check(CLI::PositiveNumber);
  CLI11_PARSE(app, argc, argv);
  try {
    const fs::path before = fs::path(cache) / "diff-before-20000.hiv";
    const fs::path after = fs::path(cache) / "diff-after-20000.hiv";
    fs::create_directories(cache);
    if (source.empty()) {
      source = orbel::DefaultHiveSource([](const char* name) -> std::optional<std::string> {
                 const char* value = std::getenv(name);
                 return value ? std::optional<std::string>(value) : std::nullopt;
               }).string();
    }
    WriteHives(source, before, after);

    double ms = 0;
    const std::string diff = Companion({before.string(), "--diff", after.string()}, ms);
    if (diff.find("\"added\":1,\"removed\":1,\"changed\":1,") == std::string::npos) {
      throw SetupError("the comparison did not find the three changes:\n" + diff.substr(0, 2000));
    }
    std::vector<double> one, two;
    for (int i = 0; i < runs; ++i) {
      Companion({before.string(), "--summary"}, ms);
      one.push_back(ms);
      Companion({before.string(), "--diff", after.string()}, ms);
      two.push_back(ms);
    }
    const double ratio = Median(two) / Median(one);
    std::cout << "one reading: median " << Median(one) << " ms\n"
              << "--diff:      median " << Median(two) << " ms\n"
              << "ratio " << ratio << " (bar " << kMaxRatio << ")\n";
    return ratio <= kMaxRatio ? 0 : 1;
  } catch (const SetupError& e) {
    std::cerr << "diff_benchmark: " << e.what() << "\n";
    return 2;
  }
}
