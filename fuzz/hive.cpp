// A regf hive read the way the loader reads it: the bytes are a file (a
// memfd), connected as another computer's registry, read into the catalogue
// with the controls the command-line companion uses, and every entry's rows
// filled.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "catalogue/COLESettingsUnit.h"
#include "catalogue/PlainControls.h"
#include "platform/computer/LocalImage.h"
#include "tools/Vell_Tools.h"

using namespace orbel;

namespace {

constexpr int kFixedImages = 17;

// Questions are answered No; nothing is shown.
class QuietScreen : public Screen {
 public:
  bool ShowMessage(MessageKind, const std::string&, const std::string&) override { return false; }
  void SetCursorBusy(bool) override {}
  void ProcessPendingEvents() override {}
  std::vector<std::string> FontFamilies() override { return {}; }
  void OpenWithShell(const std::string&) override {}
};

class NoIcons : public IconExtractor {
 public:
  platform::ExtractedIcon Extract(const std::string&, std::int32_t) override { return {}; }
};

// The file the hive bytes are written to, made once and rewritten per input.
int g_file = -1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static QuietScreen screen;
  SetScreen(&screen);
  g_file = ::memfd_create("hive", MFD_CLOEXEC);
  if (g_file < 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (::ftruncate(g_file, 0) != 0) std::abort();
  for (std::size_t done = 0; done < size;) {
    const ssize_t written = ::pwrite(g_file, data + done, size - done, static_cast<off_t>(done));
    if (written <= 0) std::abort();
    done += static_cast<std::size_t>(written);
  }

  PlainTree tree;
  PlainProgress progress;
  PlainList list;
  PlainImages small(kFixedImages), large(kFixedImages);
  CatalogueWindows windows{&platform::SystemRegistry(), &progress, &tree, &list, &small, &large,
                           nullptr, [](platform::RegistryApi&, platform::HKey) {
                             return std::make_shared<NoIcons>();
                           }};
  TCOLESettings catalogue(windows);
  catalogue.RequestedComputer = "/proc/self/fd/" + std::to_string(g_file);
  catalogue.LoadCatalogue();
  for (int i = 0; i < catalogue.EntryCount(); ++i) {
    COLEObject& entry = *catalogue.EntryAt(i);
    entry.HideUnknown = false;
    entry.ValueList = &list;
    entry.FillValueList();
  }
  return 0;
}
