#include "cli/TestCommand.h"

#include <optional>

#include "catalogue/COLESettingsUnit.h"
#include "cli/TerminalText.h"
#include "platform/base/Text.h"
#include "tools/Vell_Tools.h"

#ifdef _WIN32
#include <objbase.h>
#endif

namespace orbel {
namespace {

// Keeps the message the test shows, and its kind.
class CapturingScreen : public Screen {
 public:
  CapturingScreen() : previous_(CurrentScreen()) { SetScreen(this); }
  ~CapturingScreen() override { SetScreen(previous_); }
  bool ShowMessage(MessageKind kind, const std::string&, const std::string& text) override {
    kind_ = kind;
    text_ = text;
    return false;
  }
  void SetCursorBusy(bool) override {}
  void ProcessPendingEvents() override {}
  std::vector<std::string> FontFamilies() override { return {}; }
  void OpenWithShell(const std::string&) override {}

  std::optional<MessageKind> kind_;
  std::string text_;

 private:
  Screen* previous_;
};

std::string Braced(const std::string& guid) {
  if (guid.starts_with('{')) return guid;
  return "{" + guid + "}";
}

}  // namespace

int RunTestCommand(TCOLESettings& catalogue, const std::string& guid, std::ostream& out,
                   std::ostream& err) {
  const std::string wanted = platform::AsciiUpper(Braced(guid));
  COLEObject* entry = nullptr;
  for (int i = 0; i < catalogue.EntryCount() && entry == nullptr; ++i) {
    COLEObject* candidate = catalogue.EntryAt(i);
    if (platform::AsciiUpper(candidate->RegistrySettings->Guid) == wanted) entry = candidate;
  }
  if (entry == nullptr) {
    err << "orbel-catalogue: --test: no class " << TerminalText(guid) << " in the registry of "
        << TerminalText(catalogue.ViewedComputer) << "\n";
    return 2;
  }
#ifdef _WIN32
  // The object test without its helper creates objects on this thread.
  const bool initialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
#endif
  CapturingScreen screen;
  entry->TestCreate();
#ifdef _WIN32
  if (initialised) CoUninitialize();
#endif
  // The message quotes the name the test used, which the registry gave.
  std::string text = screen.text_;
  for (const int index : {8, 7}) {
    const std::string quoted = "'" + entry->GetValue(index) + "'";
    if (const std::size_t at = text.find(quoted); at != std::string::npos) {
      text.replace(at, quoted.size(), "'" + TerminalText(entry->GetValue(index)) + "'");
      break;
    }
  }
  out << text << "\n";
  return screen.kind_ == MessageKind::Information ? 0 : 1;
}

}  // namespace orbel
