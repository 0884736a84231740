#include "cli/DeletedView.h"

#include <utility>

#include "cli/CatalogueReading.h"
#include "cli/JsonOutput.h"
#include "platform/base/SafeFile.h"
#include "platform/base/Text.h"
#include "platform/formats/HiveLogFiles.h"
#include "platform/store/MemoryStore.h"

namespace orbel {
namespace {

// The largest hive the format can address, with its base block.
constexpr std::uint64_t kMaxHiveBytes = 0x80000000u + 4096;

std::string Joined(const std::vector<std::string>& parts, std::size_t from) {
  std::string text;
  for (std::size_t i = from; i < parts.size(); ++i) text += (text.empty() ? "" : "\\") + parts[i];
  return text;
}

}  // namespace

std::unique_ptr<DeletedView> DeletedView::Open(const CatalogueOptions& options, std::ostream& err,
                                               int& exitStatus) {
  if (!options.source) {
    exitStatus = ReportUsage(err, "--deleted needs a SOURCE that is a hive file");
    return nullptr;
  }
  std::vector<std::byte> bytes;
  std::string error;
  if (!platform::ReadRegularFile(*options.source, kMaxHiveBytes, bytes, error)) {
    exitStatus = ReportFailure(err, *options.source + ": " + error);
    return nullptr;
  }
  std::unique_ptr<DeletedView> view(new DeletedView());
  // The free cells as the transaction logs leave them.
  view->name_ = std::filesystem::path(*options.source).filename().string();
  if (!options.noLogs) view->recovery_ = platform::RecoverHive(*options.source, bytes);
  view->found_ = platform::ScanFreeCells(bytes);
  if (!view->found_.scanned) {
    exitStatus = ReportFailure(err, *options.source +
                                        ": not a registry hive (--deleted reads "
                                        "the free cells of a hive file)");
    return nullptr;
  }

  // The classes lie at CLSID in a classes hive, at Classes\CLSID in a
  // SOFTWARE hive; the recovered keys are put where a live one would be read.
  bool classesHive = false;
  for (const auto& name : view->found_.liveRootKeys) {
    classesHive = classesHive || platform::EqualsNoCase(name, "CLSID");
  }
  auto store = std::make_shared<platform::MemoryStore>();
  const std::vector<std::string> prefix =
      classesHive ? std::vector<std::string>{} : std::vector<std::string>{"Classes"};
  PutRecovered(view->found_, prefix, *store, store->EnsurePath("Software\\Classes"));
  store->SetWritable(false);

  std::vector<std::string> clsid = prefix;
  clsid.push_back("CLSID");
  for (std::size_t i : view->found_.Under(clsid)) {
    const platform::RecoveredKey& key = view->found_.keys[i];
    ClassNotes& notes = view->classes_[platform::FoldCase(key.path[clsid.size()])];
    const std::string where = Joined(key.path, clsid.size() + 1);
    if (key.path.size() == clsid.size() + 1 && key.formerVersion) notes.formerVersion = true;
    for (const auto& line : key.missing) {
      notes.missing.push_back(where.empty() ? line : where + ": " + line);
    }
  }
  for (const auto& [guid, notes] : view->classes_) {
    view->formerVersions_ += notes.formerVersion;
    view->partial_ += !notes.missing.empty();
  }

  const platform::Mount mount{store, store->RootNode(), std::nullopt};
  view->registry_.SetConnector(
      MachineOnlyConnector(mount, "only HKEY_LOCAL_MACHINE holds the recovered keys"));
  return view;
}

const DeletedView::ClassNotes* DeletedView::NotesOf(const COLEObject& entry) const {
  const auto it = classes_.find(platform::FoldCase(entry.RegistrySettings->Guid));
  return it == classes_.end() ? nullptr : &it->second;
}

void DeletedView::AddFields(const COLEObject& entry, json& fields) const {
  const ClassNotes* notes = NotesOf(entry);
  fields["recovered"] = true;
  fields["formerVersion"] = notes && notes->formerVersion;
  fields["missing"] = notes ? json(notes->missing) : json::array();
}

void DeletedView::AppendMarker(const COLEObject& entry, std::string& listing) const {
  const ClassNotes* notes = NotesOf(entry);
  listing += "\trecovered";
  if (notes && notes->formerVersion) listing += " (a former version of a live class)";
  listing += '\n';
  if (!notes) return;
  for (const auto& line : notes->missing) listing += "\tnot rebuilt: " + line + '\n';
}

void DeletedView::PrintSummary(std::ostream& out) const {
  out << "\nDeleted classes recovered from free cells: " << classes_.size() << " ("
      << formerVersions_ << " former versions of live classes, " << partial_
      << " not wholly rebuilt)\n";
  out << "Deleted keys recovered: " << found_.keys.size()
      << "; deleted keys not placed: " << found_.unplacedKeys
      << "; deleted values of no recovered key: " << found_.unattachedValues.size() << "\n";
  for (const auto& problem : found_.problems) out << "Damage: " << problem << "\n";
  if (const std::string text = recovery_.Text(name_); !text.empty()) out << text << "\n";
}

void DeletedView::AddSummary(json& summary) const {
  summary["deleted"] = {{"classes", classes_.size()},
                        {"formerVersions", formerVersions_},
                        {"partial", partial_},
                        {"keys", found_.keys.size()},
                        {"unplacedKeys", found_.unplacedKeys},
                        {"unattachedValues", found_.unattachedValues.size()},
                        {"damage", found_.problems}};
  summary["recovery"] = RecoveryJson(recovery_.Summary());
}

}  // namespace orbel
