#include "cli/TimelineOutput.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>
#include <utility>

#include "cli/CatalogueOptions.h"
#include "cli/ErrorReport.h"
#include "cli/UserView.h"

namespace orbel {
namespace {

// The subkeys of a class key whose times follow the class key's own: the
// servers and handlers (32-bit, then 16-bit), then TreatAs, which sends the
// class to another, and ProgID, the name programs create it by.
constexpr std::array<std::string_view, 8> kTimedSubkeys = {
    "InprocServer32", "LocalServer32", "InprocHandler32", "InprocServer",
    "LocalServer",    "InprocHandler", "TreatAs",         "ProgID"};

// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochGap = 11644473600;

// One key time: the side whose store holds it ("machine" or "user") and the
// key's path from that side's root, the root named as Windows names it.
struct KeyEvent {
  const char* scope;
  std::string path;
  platform::FileTime time;
};

// The key times of the machine's registry as the reading reached it: this
// computer's HKEY_LOCAL_MACHINE, or `computer` connected again the way the
// reading connected it.
class MachineKeys {
 public:
  MachineKeys(platform::RegistryApi& registry, const std::string& computer) : registry_(registry) {
    if (computer.empty()) return;
    if (registry.ConnectRegistry(computer, platform::HKeyLocalMachine, root_) !=
        platform::kSuccess) {
      problem_ = registry.LastConnectError().empty() ? computer + ": cannot be read"
                                                     : registry.LastConnectError();
    }
  }
  ~MachineKeys() {
    if (root_ != platform::HKeyLocalMachine) registry_.CloseKey(root_);
  }
  MachineKeys(const MachineKeys&) = delete;
  MachineKeys& operator=(const MachineKeys&) = delete;

  const std::string& Problem() const { return problem_; }

  // The times of the class key `classPath` and of its timed subkeys; what
  // could not be read goes to `errors`.
  void Collect(const std::string& classPath, std::vector<KeyEvent>& events, json& errors) {
    platform::HKey key{};
    if (!Open(root_, classPath, classPath, key, errors)) return;
    Add(key, classPath, events, errors);
    for (std::string_view name : kTimedSubkeys) {
      const std::string path = classPath + "\\" + std::string(name);
      platform::HKey sub{};
      if (!Open(key, name, path, sub, errors)) continue;
      Add(sub, path, events, errors);
      registry_.CloseKey(sub);
    }
    registry_.CloseKey(key);
  }

 private:
  // Opens `name` below `base`; false when the key is absent or, with the
  // failure in `errors`, cannot be opened.
  bool Open(platform::HKey base, std::string_view name, const std::string& path,
            platform::HKey& key, json& errors) {
    const platform::Status status = registry_.OpenKey(base, name, platform::KEY_READ, key);
    if (status == platform::kSuccess) return true;
    if (status != platform::kFileNotFound) Fail(path, "opening the key", status, errors);
    return false;
  }
  void Add(platform::HKey key, const std::string& path, std::vector<KeyEvent>& events,
           json& errors) {
    platform::KeyFigures figures;
    const platform::Status status = registry_.QueryInfoKey(key, figures);
    if (status != platform::kSuccess) {
      Fail(path, "reading the key's time", status, errors);
    } else if (figures.lastWriteTime != 0) {
      events.push_back({"machine", "HKEY_LOCAL_MACHINE\\" + path, figures.lastWriteTime});
    }
  }
  static void Fail(const std::string& path, const char* what, platform::Status status,
                   json& errors) {
    errors.push_back(
        {{"key", path},
         {"message", std::string(what) + " failed (error " + std::to_string(status) + ")"}});
  }

  platform::RegistryApi& registry_;
  platform::HKey root_ = platform::HKeyLocalMachine;
  std::string problem_;
};

// The times of a key in a user view: the user's key first, then the
// machine's, each with the time its own store keeps. Damage is recorded by
// the view and reported with its errors.
void CollectSides(UserView& user, const std::string& classPath, std::vector<KeyEvent>& events) {
  const auto add = [&](const std::string& path) {
    const auto sides = user.SidesOf(path);
    if (sides.upperTime != 0)
      events.push_back({"user", "HKEY_CURRENT_USER\\" + path, sides.upperTime});
    if (sides.lowerTime != 0) {
      events.push_back({"machine", "HKEY_LOCAL_MACHINE\\" + path, sides.lowerTime});
    }
    return sides.upper || sides.lower;
  };
  if (!add(classPath)) return;
  for (std::string_view name : kTimedSubkeys) add(classPath + "\\" + std::string(name));
}

// '%', '|' and the control characters written as %HH, so that a name
// splits neither a line nor a field of the body format.
std::string BodyName(std::string_view text) {
  std::string written;
  written.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '%' || c == '|' || byte < 0x20 || byte == 0x7F) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", byte);
      written += hex;
    } else {
      written += c;
    }
  }
  return written;
}

void PrintEvent(const COLEObject& entry, const std::string& view, const KeyEvent& event,
                TimelineForm form, std::ostream& out) {
  // A time past the year 9999 has no ISO 8601 form: it gives no event, as it
  // gives no lastWrite.
  const auto iso = IsoTime(event.time);
  if (!iso) return;
  const std::string message =
      event.path + " [" + event.scope + ", " + view + "-bit] " + entry.DisplayName;
  const std::int64_t unixSeconds = static_cast<std::int64_t>(event.time / 10'000'000) - kEpochGap;
  if (form == TimelineForm::Body) {
    // MD5|name|inode|mode_as_string|UID|GID|size|atime|mtime|ctime|crtime
    out << "0|" << BodyName(message) << "|0|0|0|0|0|0|" << unixSeconds << "|0|0\n";
    return;
  }
  const std::int64_t micros = static_cast<std::int64_t>(event.time / 10) - kEpochGap * 1'000'000;
  json line = {{"message", message},
               {"datetime", iso->substr(0, iso->size() - 1) + "+00:00"},
               {"timestamp", micros},
               {"timestamp_desc", "Key Last Written"},
               {"guid", entry.RegistrySettings->Guid},
               {"name", entry.DisplayName},
               {"scope", event.scope},
               {"view", view},
               {"path", event.path}};
  out << Dump(line) << "\n";
}

}  // namespace

int PrintTimeline(const std::vector<ViewedReading>& readings, const ReadingViews& views,
                  platform::RegistryApi& registry, const std::string& computer, TimelineForm form,
                  std::ostream& out, std::ostream& err) {
  // A user view reads each side from its own store; the machine alone is
  // read from the registry the reading used.
  std::optional<MachineKeys> machine;
  if (!views.user) {
    machine.emplace(registry, computer);
    if (!machine->Problem().empty()) return ReportFailure(err, machine->Problem());
  }
  json keyErrors = json::array();
  std::vector<KeyEvent> events;
  for (const auto& [view, reading] : readings) {
    const TCOLESettings& catalogue = reading->Catalogue();
    for (int i = 0; i < catalogue.EntryCount(); ++i) {
      const COLEObject& entry = *catalogue.EntryAt(i);
      const std::string classPath =
          std::string(ClassListOf(view)) + "\\" + entry.RegistrySettings->Guid;
      events.clear();
      if (views.user) {
        CollectSides(*views.user, classPath, events);
      } else {
        machine->Collect(classPath, events, keyErrors);
      }
      for (const KeyEvent& event : events) PrintEvent(entry, view, event, form, out);
    }
  }
  json errors = ErrorsOfReadings(readings, views);
  for (auto& error : keyErrors) errors.push_back(std::move(error));
  return ReportReadErrors(errors, err);
}

}  // namespace orbel
