#include "model/COLEObjectRegistrySettingsUnit.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string_view>

#include "platform/base/Text.h"

namespace orbel {
namespace {

using platform::HKey;

const char* const kInsertableCategory = "{40FC6ED3-2438-11CF-A3DB-080036F12502}";
const char* const kControlCategory = "{40FC6ED4-2438-11CF-A3DB-080036F12502}";
const char* const kProgrammableCategory = "{40FC6ED5-2438-11CF-A3DB-080036F12502}";
const char* const kDocumentCategory = "{40FC6ED8-2438-11CF-A3DB-080036F12502}";

void DefaultToUnknown(FieldText& field) {
  if (field.empty()) field = kUnknown;
}

std::string TwoDigits(unsigned number) {
  return std::string(1, static_cast<char>('0' + number / 10)) +
         static_cast<char>('0' + number % 10);
}

const char* RootNameText(HKey root) {
  if (root == platform::HKeyClassesRoot) return "HKEY_CLASSES_ROOT";
  if (root == platform::HKeyCurrentUser) return "HKEY_CURRENT_USER";
  if (root == platform::HKeyLocalMachine) return "HKEY_LOCAL_MACHINE";
  if (root == platform::HKeyUsers) return "HKEY_USERS";
  if (root == platform::HKeyCurrentConfig) return "HKEY_CURRENT_CONFIG";
  if (root == platform::HKeyDynData) return "HKEY_DYN_DATA";
  return kUnknown;
}

// A value read through a short-lived second reader on the same root.
std::string ReadValueAt(platform::RegistryApi& api, HKey root, const std::string& path,
                        std::string_view name) {
  TPatchRegistry reader(api);
  reader.SelectRoot(root);
  reader.OpenPath(path);
  return reader.ReadText(name);
}

// The steps of reading one class key, with the reader they borrow. A subkey
// that the class key does not list cannot be opened, so it is not tried:
// most classes lack most of the subkeys asked for. When the list could not
// be read in full, every subkey asked for is tried.
class ClassKeyReading {
 public:
  // The class key's subkeys are listed into the reader's scratch list;
  // `others` gets at the end the extra attributes' names.
  ClassKeyReading(TPatchRegistry& reader, std::vector<std::string>& others)
      : reader_(reader), listed_(reader.SubkeyScratch()), others_(others) {}

  // Takes the class key's subkeys; all of them are pending.
  // Answers how many of its subkeys could not be listed.
  std::uint32_t ListSubkeys() {
    const std::uint32_t missing = reader_.ListSubkeys(listed_);
    complete_ = missing == 0;
    consumed_ = 0;
    if (listed_.size() > 64) moreConsumed_.assign(listed_.size() - 64, false);
    return missing;
  }
  std::string ValueAt(HKey root, const std::string& path, std::string_view name) {
    return ReadValueAt(reader_.Api(), root, path, name);
  }
  std::string SubkeyDefault(std::string_view subkey) { return SubkeyValue(subkey, ""); }
  std::string SubkeyValue(std::string_view subkey, std::string_view name) {
    if (!Listed(subkey)) return {};
    return reader_.ReadSubkeyText(subkey, name);
  }
  // Takes the first pending subkey of that name, compared without regard to
  // case, off the pending list.
  void Consume(std::string_view name) {
    for (std::size_t i = 0; i < listed_.size(); ++i) {
      if (!Consumed(i) && platform::EqualsNoCase(listed_[i], name)) {
        SetConsumed(i);
        return;
      }
    }
  }
  // Reads the default value of `subkey` into `field` and consumes the subkey.
  void ReadAndConsume(FieldText& field, std::string_view subkey) {
    // Most classes lack most subkeys: an absent one has nothing to consume.
    if (!Listed(subkey)) {
      field = kUnknown;
      return;
    }
    field = reader_.ReadSubkeyText(subkey, "");
    DefaultToUnknown(field);
    Consume(subkey);
  }
  // Reads the default value of `subkey` into `field` and its value `name`
  // into `other`, as ReadAndConsume and SubkeyValue do, opening it once;
  // consumes the subkey.
  void ReadAndConsumeWith(FieldText& field, std::string_view subkey, FieldText& other,
                          std::string_view name) {
    if (!Listed(subkey)) {
      field = kUnknown;
      other = FieldText();
      return;
    }
    const std::string_view names[] = {"", name};
    std::string texts[2];
    reader_.ReadSubkeyTexts(subkey, names, texts);
    field = texts[0];
    DefaultToUnknown(field);
    other = texts[1];
    Consume(subkey);
  }
  // Whether a subkey of the class key, or a key below one, can be opened.
  bool Exists(std::string_view subkey) { return Listed(subkey) && reader_.PathExists(subkey); }
  bool Exists(std::string_view subkey, std::string_view below) {
    if (!Listed(subkey)) return false;
    std::string path;
    path.reserve(subkey.size() + 1 + below.size());
    path.append(subkey).append("\\").append(below);
    return reader_.PathExists(path);
  }
  // Gives the pending subkeys that have a default value (one that does not
  // read "<Unknown>"), in the class key's order, with those values.
  void KeepOthers(std::vector<std::string>& values) {
    for (std::size_t i = 0; i < listed_.size(); ++i) {
      if (Consumed(i)) continue;
      std::string value = reader_.ReadSubkeyText(listed_[i], "");
      if (value.empty() || value == kUnknown) continue;
      others_.push_back(listed_[i]);
      values.push_back(std::move(value));
    }
  }

 private:
  bool Listed(std::string_view subkey) const {
    return !complete_ || std::any_of(listed_.begin(), listed_.end(), [&](const std::string& n) {
      return platform::EqualsNoCase(n, subkey);
    });
  }

  bool Consumed(std::size_t i) const {
    return i < 64 ? (consumed_ >> i) & 1 : moreConsumed_[i - 64];
  }
  void SetConsumed(std::size_t i) {
    if (i < 64) {
      consumed_ |= std::uint64_t{1} << i;
    } else {
      moreConsumed_[i - 64] = true;
    }
  }

  TPatchRegistry& reader_;
  std::vector<std::string>& listed_;
  std::vector<std::string>& others_;
  // One flag per listed subkey: the first 64 in a word, any others beside.
  std::uint64_t consumed_ = 0;
  std::vector<bool> moreConsumed_;
  bool complete_ = true;
};

}  // namespace

std::string COLEObjectRegistrySettings::RootName(HKey root) { return RootNameText(root); }

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
  SubkeysNotListed = read.ListSubkeys();
  read.Consume("Verb");

  // 2. Identity.
  Name = reader.ReadText("");
  DefaultToUnknown(Name);
  const std::string& path = reader.Path();
  const std::string_view root = RootNameText(reader.Root());
  std::string registryPath;
  registryPath.reserve(root.size() + path.size() + 2);
  registryPath.append(root).append("\\").append(path).append("\\");
  RegistryPath = registryPath;
  const std::size_t slash = path.rfind('\\');
  Guid = platform::AsciiUpper(
      std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1));

  // 3. Last change.
  KeyInfo info;
  if (reader.QueryKeyInfo(info)) {
    LastWriteTime = info.LastWriteTime;
    LastChange = DateOf(info.LastWriteTime);
  }
  DefaultToUnknown(LastChange);

  // 4. In-process server.
  read.ReadAndConsume(InprocServer, "InprocServer");
  read.ReadAndConsumeWith(InprocServer32, "InprocServer32", ThreadingModel, "ThreadingModel");
  DefaultToUnknown(ThreadingModel);
  read.Consume("ThreadingModel");

  // 5. Local server.
  read.ReadAndConsume(LocalServer, "LocalServer");
  read.ReadAndConsumeWith(LocalServer32, "LocalServer32", ServerExecutable, "ServerExecutable");
  AppID = reader.ReadText("AppID");
  // Only a key name of its own: a value with a backslash would lead elsewhere.
  if (!AppID.empty() && AppID.view().find('\\') == std::string_view::npos) {
    LocalService =
        read.ValueAt(reader.Root(), "Software\\Classes\\AppID\\" + AppID, "LocalService");
  }

  // 6. Handler.
  read.ReadAndConsume(InProcHandler, "InProcHandler");
  read.ReadAndConsumeWith(InProcHandler32, "InProcHandler32", HandlerThreadingModel,
                          "ThreadingModel");
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

  // 14. Treat-As is not shown in the window; the record keeps it for the
  // companion.
  TreatAs = read.SubkeyDefault("TreatAs");
  read.Consume("TreatAs");

  // 15. Categories.
  const std::string_view categories = "Implemented Categories";
  read.Consume("Implemented Categories");
  read.Consume(kInsertableCategory);
  IsInsertable = read.Exists(categories, kInsertableCategory) || read.Exists("Insertable");
  read.Consume("Insertable");
  read.Consume(kProgrammableCategory);
  IsProgrammable = read.Exists(categories, kProgrammableCategory) || read.Exists("Programmable");
  read.Consume("Programmable");
  read.Consume(kControlCategory);
  IsControl = read.Exists(categories, kControlCategory) || read.Exists("Control");
  read.Consume("Control");
  IsShellExtension = read.Exists("ShellEx") || read.Exists("Shell") || read.Exists("ShellFolder") ||
                     read.Exists("ShellExplorerRoot");
  read.Consume("ShellExplorerRoot");
  read.Consume("ShellFolder");
  read.Consume("ShellEx");
  read.Consume("Shell");
  read.Consume(kDocumentCategory);
  IsDocObject = read.Exists(categories, kDocumentCategory);

  // 16. Extra attributes: the subkeys left that have a default value.
  read.KeepOthers(OtherSubkeyValues);
}

}  // namespace orbel
