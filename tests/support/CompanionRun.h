// Runs orbel-catalogue in the test's process, with this computer standing for
// the sample registry, and keeps what it printed.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "cli/CatalogueCommand.h"
#include "platform/api/PortableRegistry.h"
#include "platform/computer/LocalImage.h"

namespace orbel::testing {

struct Outcome {
  int status = -1;
  std::string out, err;
};

inline Outcome Command(std::vector<std::string> args) {
  platform::PortableRegistry registry;
  platform::SetUpPortableRegistry(registry, {ORBEL_SAMPLE_REGISTRY, "sample registry"}, nullptr,
                                  platform::SystemImageOptions);
  args.insert(args.begin(), "orbel-catalogue");
  std::vector<const char*> argv;
  for (const auto& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out, err;
  Outcome run;
  run.status = RunCatalogueCommand(static_cast<int>(argv.size()), argv.data(), registry, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

}  // namespace orbel::testing
