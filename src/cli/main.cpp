// orbel-catalogue: the catalogue of COM classes on the command line.
#include <iostream>

#include "cli/CatalogueCommand.h"
#include "platform/computer/LocalImage.h"

int main(int argc, char** argv) {
  orbel::KeepReadingsUntilExit();
  return orbel::RunCatalogueCommand(argc, argv, orbel::platform::SystemRegistry(), std::cout,
                                    std::cerr);
}
