// orbel-generate-hive: writes a SOFTWARE hive with a given number of class
// keys copied from a source registry, for benchmarks and manual trials.
#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "HiveGenerator.h"

int main(int argc, char** argv) {
  CLI::App app{"Writes a SOFTWARE hive holding N class keys copied from a source registry.",
               "orbel-generate-hive"};
  std::size_t classes = 0;
  std::string out;
  std::string source;
  std::size_t nameLength = 0;
  app.add_option("--classes", classes, "number of class keys (N)")
      ->required()
      ->check(CLI::Range(std::size_t{1}, std::size_t{1'000'000}));
  app.add_option("--out", out, "the hive file to write")->required();
  app.add_option("--source", source,
                 "the registry to copy from: a Wine prefix, a .reg file, a hive or a Windows "
                 "folder (default: $WINEPREFIX, else /tmp/orbel-wineprefix, else the sample "
                 "registry)");
  app.add_option("--name-length", nameLength,
                 "pad each class key's name with letters to this many characters (at most 255)")
      ->check(CLI::Range(std::size_t{0}, std::size_t{255}));
  std::size_t fillerMb = 0;
  app.add_option("--filler-mb", fillerMb,
                 "add about this many MB of other software's keys and values under Vendor, "
                 "the shape of a real SOFTWARE hive")
      ->check(CLI::Range(std::size_t{0}, std::size_t{1024}));
  CLI11_PARSE(app, argc, argv);

  if (source.empty()) {
    source = orbel::DefaultHiveSource([](const char* name) -> std::optional<std::string> {
      const char* value = std::getenv(name);
      return value ? std::optional<std::string>(value) : std::nullopt;
    });
  }
  std::string error;
  const auto loaded = orbel::LoadHiveSource(source, error);
  if (!loaded) {
    std::cerr << "orbel-generate-hive: " << error << "\n";
    return 1;
  }
  if (!orbel::GenerateHive(*loaded, classes, out, error, nameLength, fillerMb * 1'000'000)) {
    std::cerr << "orbel-generate-hive: " << error << "\n";
    return 1;
  }
  std::cout << out << ": " << classes << " class keys, copied from the " << loaded->classes.size()
            << " class keys and " << loaded->typeLibs.size() << " type libraries of " << source
            << "\n";
  return 0;
}
