#include "model/COLEObjectRegistrySettingsUnit.h"

#include <algorithm>
#include <chrono>

#include "platform/Text.h"

namespace orbel {
namespace {

using platform::HKey;

const char* const kInsertableCategory = "{40FC6ED3-2438-11CF-A3DB-080036F12502}";
const char* const kControlCategory = "{40FC6ED4-2438-11CF-A3DB-080036F12502}";
const char* const kProgrammableCategory = "{40FC6ED5-2438-11CF-A3DB-080036F12502}";
const char* const kDocumentCategory = "{40FC6ED8-2438-11CF-A3DB-080036F12502}";

void DefaultToUnknown(std::string& field) {
  if (field.empty()) field = kUnknown;
}

std::string TwoDigits(unsigned number) {
  return std::string(1, static_cast<char>('0' + number / 10)) +
         static_cast<char>('0' + number % 10);
}

// A value read through a short-lived second reader on the same root.
std::string ReadValueAt(platform::RegistryApi& api, HKey root, const std::string& path,
                        const std::string& name) {
  TPatchRegistry reader(api);
  reader.SelectRoot(root);
  reader.OpenPath(path);
  return reader.ReadText(name);
}

// The steps of reading one class key, with the reader they borrow. A subkey
// that the class key does not list cannot be opened, so it is not tried:
// most classes lack most of the subkeys asked for, and each try is a walk
// from the root.
class ClassKeyReading {
 public:
  ClassKeyReading(TPatchRegistry& reader, std::vector<std::string>& pending)
      : reader_(reader), pending_(pending) {}

  // Takes the class key's subkeys into the pending list.
  void ListSubkeys() {
    reader_.ListSubkeys(pending_);
    listed_ = pending_;
  }
  std::string ValueAt(HKey root, const std::string& path, const std::string& name) {
    return ReadValueAt(reader_.Api(), root, path, name);
  }
  std::string SubkeyDefault(const std::string& subkey) { return SubkeyValue(subkey, ""); }
  std::string SubkeyValue(const std::string& subkey, const std::string& name) {
    if (!Listed(subkey)) return {};
    return ValueAt(reader_.Root(), reader_.Path() + "\\" + subkey, name);
  }
  // Removes the first pending subkey of that name, compared without regard
  // to case.
  void Consume(const std::string& name) {
    const auto it = std::find_if(pending_.begin(), pending_.end(), [&](const std::string& n) {
      return platform::EqualsNoCase(n, name);
    });
    if (it != pending_.end()) pending_.erase(it);
  }
  // Reads the default value of `subkey` into `field` and consumes the subkey.
  void ReadAndConsume(std::string& field, const std::string& subkey) {
    field = SubkeyDefault(subkey);
    DefaultToUnknown(field);
    Consume(subkey);
  }
  // Whether a path relative to the class key can be opened.
  bool Exists(const std::string& path) {
    return Listed(path.substr(0, path.find('\\'))) && reader_.PathExists(path);
  }

 private:
  bool Listed(const std::string& subkey) const {
    return std::any_of(listed_.begin(), listed_.end(),
                       [&](const std::string& n) { return platform::EqualsNoCase(n, subkey); });
  }

  TPatchRegistry& reader_;
  std::vector<std::string>& pending_;
  std::vector<std::string> listed_;
};

}  // namespace

std::string COLEObjectRegistrySettings::RootName(HKey root) {
  if (root == platform::HKeyClassesRoot) return "HKEY_CLASSES_ROOT";
  if (root == platform::HKeyCurrentUser) return "HKEY_CURRENT_USER";
  if (root == platform::HKeyLocalMachine) return "HKEY_LOCAL_MACHINE";
  if (root == platform::HKeyUsers) return "HKEY_USERS";
  if (root == platform::HKeyCurrentConfig) return "HKEY_CURRENT_CONFIG";
  if (root == platform::HKeyDynData) return "HKEY_DYN_DATA";
  return kUnknown;
}

std::string COLEObjectRegistrySettings::DateOf(platform::FileTime time) {
  // The calendar conversion holds times below 2^63 only.
  if (time >= (platform::FileTime{1} << 63)) return {};
  using namespace std::chrono;
  constexpr std::uint64_t kPerDay = 864'000'000'000ull;
  const auto days = static_cast<std::int64_t>(time / kPerDay);
  if (days == 0) return {};
  const year_month_day date{sys_days{1601y / January / 1} + std::chrono::days{days}};
  return std::to_string(static_cast<int>(date.year())) + "/" +
         TwoDigits(static_cast<unsigned>(date.month())) + "/" +
         TwoDigits(static_cast<unsigned>(date.day()));
}

COLEObjectRegistrySettings::COLEObjectRegistrySettings(TPatchRegistry& reader) {
  ClassKeyReading read(reader, OtherSubkeyNames);

  // 1. Pending subkeys.
  read.ListSubkeys();
  read.Consume("Verb");

  // 2. Identity.
  Name = reader.ReadText("");
  DefaultToUnknown(Name);
  RegistryPath = RootName(reader.Root()) + "\\" + reader.Path() + "\\";
  const std::string& path = reader.Path();
  const std::size_t slash = path.rfind('\\');
  Guid = platform::AsciiUpper(slash == std::string::npos ? path : path.substr(slash + 1));

  // 3. Last change.
  KeyInfo info;
  if (reader.QueryKeyInfo(info)) LastChange = DateOf(info.LastWriteTime);
  DefaultToUnknown(LastChange);

  // 4. In-process server.
  read.ReadAndConsume(InprocServer, "InprocServer");
  read.ReadAndConsume(InprocServer32, "InprocServer32");
  ThreadingModel = read.SubkeyValue("InprocServer32", "ThreadingModel");
  DefaultToUnknown(ThreadingModel);
  read.Consume("ThreadingModel");

  // 5. Local server.
  read.ReadAndConsume(LocalServer, "LocalServer");
  read.ReadAndConsume(LocalServer32, "LocalServer32");

  // 6. Handler.
  read.ReadAndConsume(InProcHandler, "InProcHandler");
  read.ReadAndConsume(InProcHandler32, "InProcHandler32");
  HandlerThreadingModel = read.SubkeyValue("InProcHandler32", "ThreadingModel");
  DefaultToUnknown(HandlerThreadingModel);
  read.Consume("ThreadingModel");

  // 7. Development icons.
  read.ReadAndConsume(ToolboxBitmap, "ToolboxBitmap");
  read.ReadAndConsume(ToolboxBitmap32, "ToolboxBitmap32");

  // 8. Names.
  read.ReadAndConsume(ProgID, "ProgID");
  read.ReadAndConsume(VersionIndependentProgID, "VersionIndependentProgID");
  read.ReadAndConsume(OLE1Class, "OLE1Class");

  // 9. and 10.
  read.ReadAndConsume(Version, "Version");
  read.ReadAndConsume(DefaultIcon, "DefaultIcon");

  // 11. Miscellaneous status; "0" means nothing set.
  read.ReadAndConsume(MiscStatus, "MiscStatus");
  if (MiscStatus == "0") MiscStatus = kUnknown;

  // 12. and 13. The type library and the convert-to class are looked up on
  // the machine the class was read from, which may be another computer or an
  // image.
  TypeLibName = read.SubkeyDefault("TypeLib");
  DefaultToUnknown(TypeLibName);
  if (TypeLibName != kUnknown) {
    TypeLibName = read.ValueAt(reader.Root(),
                               "Software\\Classes\\TypeLib\\" + TypeLibName + "\\" + Version, "");
    DefaultToUnknown(TypeLibName);
  }
  read.Consume("TypeLib");

  ConvertToName = read.SubkeyDefault("AutoConvertTo");
  DefaultToUnknown(ConvertToName);
  if (ConvertToName != kUnknown) {
    ConvertToName = read.ValueAt(reader.Root(), "Software\\Classes\\CLSID\\" + ConvertToName, "");
    DefaultToUnknown(ConvertToName);
  }
  read.Consume("AutoConvertTo");

  // 14. Treat-As is not shown.
  read.Consume("TreatAs");

  // 15. Categories.
  const std::string categories = "Implemented Categories\\";
  read.Consume("Implemented Categories");
  read.Consume(kInsertableCategory);
  IsInsertable = read.Exists(categories + kInsertableCategory) || read.Exists("Insertable");
  read.Consume("Insertable");
  read.Consume(kProgrammableCategory);
  IsProgrammable = read.Exists(categories + kProgrammableCategory) || read.Exists("Programmable");
  read.Consume("Programmable");
  read.Consume(kControlCategory);
  IsControl = read.Exists(categories + kControlCategory) || read.Exists("Control");
  read.Consume("Control");
  IsShellExtension = read.Exists("ShellEx") || read.Exists("Shell") || read.Exists("ShellFolder") ||
                     read.Exists("ShellExplorerRoot");
  read.Consume("ShellExplorerRoot");
  read.Consume("ShellFolder");
  read.Consume("ShellEx");
  read.Consume("Shell");
  read.Consume(kDocumentCategory);
  IsDocObject = read.Exists(categories + kDocumentCategory);

  // 16. Extra attributes: the subkeys left that have a default value.
  OtherSubkeyValues.reserve(OtherSubkeyNames.size());
  for (const auto& name : OtherSubkeyNames) {
    std::string value = read.SubkeyDefault(name);
    DefaultToUnknown(value);
    OtherSubkeyValues.push_back(std::move(value));
  }
  for (std::size_t i = OtherSubkeyNames.size(); i-- > 0;) {
    if (OtherSubkeyValues[i] == kUnknown) {
      OtherSubkeyNames.erase(OtherSubkeyNames.begin() + static_cast<std::ptrdiff_t>(i));
      OtherSubkeyValues.erase(OtherSubkeyValues.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

}  // namespace orbel
