#include "catalogue/COLESettingsUnit.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <locale>
#include <string_view>
#include <utility>

#include "platform/base/Text.h"
#include "tools/Vell_Tools.h"

namespace orbel {
namespace {

// A key name as an error shows it: control characters (a NUL above all) as
// \xNN, so that the name reads whole.
std::string ShownKeyName(std::string_view name) {
  std::string shown;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      const char digits[] = "0123456789abcdef";
      shown += "\\x";
      shown += digits[u >> 4];
      shown += digits[u & 15];
    } else {
      shown += c;
    }
  }
  return shown;
}

std::uint32_t SteadyTicks() {
  using namespace std::chrono;
  return static_cast<std::uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The user's locale, or the plain one when the environment names a locale
// this system does not have.
const std::locale& UserLocale() {
  static const std::locale locale = [] {
    try {
      return std::locale("");
    } catch (const std::runtime_error&) {
      return std::locale::classic();
    }
  }();
  return locale;
}

// Whether the user's collation is plain byte order, as in the C locale and
// its UTF-8 form (UTF-8 bytes sort as their code points do); names then
// need no collation keys.
bool CollatesByBytes() {
  static const bool bytes = [] {
    const std::string name = UserLocale().name();
    return name == "C" || name == "POSIX" || name == "C.UTF-8" || name == "C.utf8";
  }();
  return bytes;
}

// The sort keys of entries, packed in one buffer so that comparing them
// stays in a small part of memory.
class SortKeys {
 public:
  void Reserve(std::size_t count) { spans_.reserve(count); }
  // Adds the key that sorts `name` without regard to case, by the user's
  // collation.
  void Add(const std::string& name) {
    std::string key = platform::FoldCase(name);
    if (!CollatesByBytes()) {
      const auto& collation = std::use_facet<std::collate<char>>(UserLocale());
      key = collation.transform(key.data(), key.data() + key.size());
    }
    spans_.emplace_back(text_.size(), key.size());
    text_ += key;
  }
  std::string_view operator[](std::size_t at) const {
    return std::string_view(text_).substr(spans_[at].first, spans_[at].second);
  }

 private:
  std::string text_;
  std::vector<std::pair<std::size_t, std::size_t>> spans_;
};

// Sorts entries by their keys (keys[i] is that of entries[i]); entries of
// equal keys keep their order. Their first eight bytes, lengths and
// positions are sorted, and the whole keys compared only where those bytes
// are the same.
template <typename Entry>
void SortByKeys(std::vector<Entry>& entries, const SortKeys& keys) {
  struct Position {
    std::uint64_t head;
    std::uint32_t at;
    std::uint32_t length;
  };
  std::vector<Position> order;
  order.reserve(entries.size());
  for (std::size_t at = 0; at < entries.size(); ++at) {
    const std::string_view key = keys[at];
    std::uint64_t head = 0;
    for (std::size_t i = 0; i < 8; ++i) {
      head = (head << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
    }
    order.push_back({head, static_cast<std::uint32_t>(at),
                     static_cast<std::uint32_t>(std::min<std::size_t>(key.size(), 0xFFFFFFFFu))});
  }
  std::stable_sort(order.begin(), order.end(), [&keys](const Position& a, const Position& b) {
    if (a.head != b.head) return a.head < b.head;
    // Keys of eight bytes or less are whole in their heads.
    return (a.length > 8 || b.length > 8) && keys[a.at] < keys[b.at];
  });
  std::vector<Entry> sorted;
  sorted.reserve(entries.size());
  for (const Position& position : order) sorted.push_back(std::move(entries[position.at]));
  entries = std::move(sorted);
}

// The six categories in tree order, with their kinds and images.
struct Category {
  const char* name;
  std::int32_t kind;
  int image;
};
constexpr Category kCategories[] = {
    {"Embeddable Objects", KindEmbeddable, 3}, {"Automation Objects", KindAutomation, 4},
    {"ActiveX Controls", KindControl, 5},      {"Shell Extensions", KindShellExtension, 6},
    {"Documents", KindDocument, 7},            {"Other Objects", KindOther, 8},
};

int CategoryPosition(std::int32_t kind) {
  for (int i = 0; i < 5; ++i) {
    if (kCategories[i].kind == kind) return i;
  }
  return 5;
}

}  // namespace

TCOLESettings::TCOLESettings(CatalogueWindows windows) : windows_(std::move(windows)) {
  if (!windows_.tickCount) windows_.tickCount = SteadyTicks;
  if (!windows_.iconExtractor) {
    windows_.iconExtractor = [](platform::RegistryApi& api, platform::HKey root) {
      return IconExtractorFor(api, root);
    };
  }
  Descriptions = std::make_unique<CItemDescription>();
  BaseImageCount = windows_.smallImages->Count();
  ResetCatalogue();
}

TCOLESettings::~TCOLESettings() {
  ClearCatalogue();
  Descriptions.reset();
  FindText.clear();
  RequestedComputer.clear();
}

void TCOLESettings::ResetCatalogue() {
  RequestedComputer.clear();
  ViewedComputer.clear();
  ClearCatalogue();
  BuildCategoryTree();
}

void TCOLESettings::ClearCatalogue() {
  BusyCursor();
  AnimationFrame = 0;
  windows_.progress->SetPosition(0);
  LastFrameTick = 0;
  ReadStatus = ReadComplete;
  EntriesRead = ControlCount = EmbeddableCount = AutomationCount = ShellExtensionCount =
      OtherCount = DocumentCount = NotReadCount = 0;
  ClassKeyCount = 0;
  ReadErrors.clear();
  ReadProblem.clear();
  Notice.clear();
  Recovery.reset();
  FileDamage.clear();
  FindNode = 0;
  Extras.clear();
  // The tree refers to the entries: empty it before they go.
  windows_.tree->BeginUpdate();
  windows_.tree->Clear();
  windows_.tree->EndUpdate();
  windows_.list->BeginUpdate();
  windows_.list->DeleteAllRows();
  windows_.list->EndUpdate();
  while (!Entries.empty()) Entries.pop_back();
  for (int i = windows_.smallImages->Count() - 1; i >= BaseImageCount; --i) {
    windows_.smallImages->Delete(i);
    if (i < windows_.largeImages->Count()) windows_.largeImages->Delete(i);
  }
  NormalCursor();
}

void TCOLESettings::LoadCatalogue() {
  CancelRequested = false;
  ClearCatalogue();
  windows_.progress->RunModal([this] { ReadClasses(); });
}

void TCOLESettings::btnCancelClick() { CancelRequested = true; }

std::string TCOLESettings::DescriptionFor(const std::string& name) const {
  return Descriptions->GetDescription(name);
}

void TCOLESettings::StepProgress() {
  const std::uint32_t now = windows_.tickCount();
  if (now - LastFrameTick >= 200) {
    if (AnimationFrame > 5) AnimationFrame = 0;
    windows_.progress->DrawFrame(AnimationFrame);
    ++AnimationFrame;
    LastFrameTick = now;
  }
  windows_.progress->Step();
}

// Reads every class key of the requested computer (or this one) into
// Entries, counts what could not be read and fills the category tree. It
// follows the reading's procedure step by step and is kept whole on purpose.
void TCOLESettings::ReadClasses() {
  StepProgress();
  int classKeys = 0;
  bool proceed = true;
  std::vector<std::string> names;
  // A user's view is read through its merged registry, which gives the
  // merged view as the machine of whatever computer is named.
  platform::RegistryApi& registry = UserView ? UserView->Registry() : *windows_.registry;
  Reader = std::make_unique<TPatchRegistry>(registry);
  Reader->SelectRoot(platform::HKeyLocalMachine);

  if (!RequestedComputer.empty()) {
    BusyCursor();
    const bool connected = Reader->ConnectRemote(RequestedComputer);
    NormalCursor();
    if (!connected) {
      ReadProblem = registry.LastConnectError();
      windows_.progress->HideDialog();
      // The question says what went wrong when the registry layer can tell
      // (a file that is no registry: its name and its fault).
      const std::string why = ReadProblem.empty() ? std::string() : ReadProblem + "\n\n";
      if (ConfirmMessage(ReplaceParam("Unable to retrieve information from \"%1\", maybe "
                                      "access-forbidden.\n\n",
                                      RequestedComputer) +
                         why + "Read the settings from this computer instead?")) {
        RequestedComputer.clear();
        ReadProblem.clear();
        proceed = true;
        windows_.progress->ShowDialog();
      } else {
        proceed = false;
        RequestedComputer.clear();
      }
    }
  }

  bool listDamaged = false;
  // Each entry's sort key is made while the entry is fresh in memory.
  SortKeys keys;
  // Reads the class keys of one class list into Entries.
  const auto readList = [&](const std::string& classList) {
    if (proceed && Reader->OpenPath(classList)) {
      std::uint32_t missing = 0;
      // Class keys whose names hold a NUL: a path cannot name them, so they
      // are not read, and each is named in an error.
      std::vector<std::string> withNul;
      try {
        missing = Reader->ListSubkeys(names, &withNul);
      } catch (const ERegistryException& e) {
        names.clear();
        listDamaged = true;
        ReadErrors.push_back({classList, e.what()});
      }
      if (missing > 0) {
        ReadErrors.push_back(
            {classList, std::to_string(missing) + " class keys could not be listed"});
      }
      for (const std::string& name : withNul) {
        ReadErrors.push_back(
            {ShownKeyName(name), "the key could not be opened: its name holds a NUL"});
      }
      missing += static_cast<std::uint32_t>(withNul.size());
      // A second list continues the progress of the first.
      const std::size_t listedBefore = static_cast<std::size_t>(classKeys);
      windows_.progress->SetMaximum(static_cast<int>(std::min<std::size_t>(
          listedBefore + names.size(), std::numeric_limits<std::int32_t>::max())));
      classKeys = static_cast<int>(std::min<std::size_t>(listedBefore + names.size() + missing,
                                                         std::numeric_limits<std::int32_t>::max()));
      const auto extractor = windows_.iconExtractor(registry, Reader->Root());
      Entries.reserve(Entries.size() + names.size());
      keys.Reserve(Entries.size() + names.size());
      for (const auto& name : names) {
        if (Reader->OpenPath(name)) {
          // A class key that cannot be read gives no entry; the others still do.
          try {
            auto entry = std::make_unique<COLEObject>(*Reader, windows_.list, windows_.smallImages,
                                                      windows_.largeImages, extractor);
            if (const std::uint32_t lost = entry->RegistrySettings->SubkeysNotListed; lost > 0) {
              ReadErrors.push_back(
                  {name, std::to_string(lost) + " of its subkeys could not be listed"});
            }
            const std::int32_t kind = entry->Kind;
            keys.Add(entry->DisplayName);
            Entries.push_back(std::move(entry));
            ++EntriesRead;
            switch (kind) {
              case KindControl: ++ControlCount; break;
              case KindEmbeddable: ++EmbeddableCount; break;
              case KindAutomation: ++AutomationCount; break;
              case KindShellExtension: ++ShellExtensionCount; break;
              case KindDocument: ++DocumentCount; break;
              default: ++OtherCount; break;
            }
          } catch (const ERegistryException& e) {
            ReadErrors.push_back({name, e.what()});
          }
          Reader->ClosePath();
          Reader->OpenPath(classList);
        }
        StepProgress();
        PumpMessages();
        if (CancelRequested) break;
      }
    } else if (proceed) {
      ReadProblem = registry.RootProblem(Reader->Root());
      // An absent class list is an empty catalogue; one that is there but
      // cannot be opened (damage) is reported.
      platform::HKey key{};
      const platform::Status status =
          ReadProblem.empty() ? registry.OpenKey(Reader->Root(), classList, platform::KEY_READ, key)
                              : platform::kFileNotFound;
      if (status == platform::kSuccess) {
        registry.CloseKey(key);
      } else if (status != platform::kFileNotFound) {
        listDamaged = true;
        ReadErrors.push_back(
            {classList, status == platform::kAccessDenied ? "access is denied"
                        : status == platform::kCantRead
                            ? "the key cannot be read: a read failed"
                            : "the key cannot be read: the registry is damaged there"});
      }
    }
  };
  readList(ClassList);
  std::vector<const COLEObject*> secondList;
  if (!SecondClassList.empty() && proceed && !CancelRequested) {
    const std::size_t first = Entries.size();
    Reader->ClosePath();
    names.clear();
    readList(SecondClassList);
    for (std::size_t i = first; i < Entries.size(); ++i) secondList.push_back(Entries[i].get());
  }
  // By display name without regard to case, by the user's collation;
  // entries of equal names keep their registry order.
  SortByKeys(Entries, keys);
  if (proceed) {
    // The machine's file, also under a user's view: the user's side has
    // notices of its own (ViewSummaryText).
    platform::RegistryApi& machine = UserView ? *windows_.registry : registry;
    const platform::HKey root = UserView ? UserView->MachineRoot() : Reader->Root();
    Notice = machine.NoticeOf(root);
    Recovery = machine.RecoveryOf(root);
    FileDamage = machine.DamageOf(root);
    if (!FileDamage.empty()) ReadErrors.push_back({"", FileDamage});
    DescribeEntries(secondList);
    if (DescribeFurther) DescribeFurther(machine, root);
  }

  Reader.reset();
  names.clear();

  if (proceed) {
    ViewedComputer = !RequestedComputer.empty() ? RequestedComputer : LocalComputerName();
    ClassKeyCount = classKeys;
    NotReadCount = classKeys - static_cast<std::int32_t>(Entries.size());
    ReadStatus = CancelRequested                   ? ReadInterrupted
                 : NotReadCount > 0 || listDamaged || !FileDamage.empty() ? ReadDenied
                                                   : ReadComplete;
  } else {
    ViewedComputer.clear();
    RequestedComputer.clear();
  }

  windows_.progress->HideDialog();
  CancelRequested = false;

  BusyCursor();
  BuildCategoryTree();
  FillCategoryTree();
  NormalCursor();
  PumpMessages();

  if (ReadStatus == ReadDenied) {
    std::string count = listDamaged ? "The list of class keys could not be read."
                        : NotReadCount > 0
                            ? ReplaceParam("%1 class keys could not be read.",
                                           std::to_string(NotReadCount))
                            : std::string();
    if (!FileDamage.empty()) count += (count.empty() ? "" : "\n") + FileDamage + ".";
    WarningMessage("Some objects could not be read because the computer has denid the access.\n\n" +
                   count + "\n\nPlease see \"File\" -> \"Information\" for further details.");
  }
}

void TCOLESettings::BuildCategoryTree() {
  auto& tree = *windows_.tree;
  tree.BeginUpdate();
  const TreeNode root = tree.Add(0, "COM Objects", 2, 2, nullptr);
  for (const auto& category : kCategories) {
    tree.Add(root, category.name, category.image, category.image, nullptr);
  }
  tree.EndUpdate();
  tree.Expand(root);
}

void TCOLESettings::FillCategoryTree() {
  auto& tree = *windows_.tree;
  tree.BeginUpdate();
  TreeNode categories[6] = {};
  TreeNode node = tree.First();
  for (auto& category : categories) {
    node = node ? tree.Next(node) : 0;
    category = node;
  }
  for (int i = 0; i < EntriesRead && i < EntryCount(); ++i) {
    COLEObject* entry = EntryAt(i);
    const ClassExtras* extras = ExtrasOf(entry);
    if (TreeFilter && !TreeFilter(*entry, extras)) continue;
    const TreeNode node =
        tree.Add(categories[CategoryPosition(entry->Kind)], entry->DisplayName, 0, 1, entry);
    if (extras && extras->badges != BadgeNone) tree.SetBadges(node, extras->badges);
  }
  tree.EndUpdate();
}

void TCOLESettings::RefillTree() {
  BusyCursor();
  FindNode = 0;
  windows_.list->BeginUpdate();
  windows_.list->DeleteAllRows();
  windows_.list->EndUpdate();
  windows_.tree->BeginUpdate();
  windows_.tree->Clear();
  windows_.tree->EndUpdate();
  BuildCategoryTree();
  FillCategoryTree();
  NormalCursor();
}

bool TCOLESettings::SearchFrom() {
  auto& tree = *windows_.tree;
  for (TreeNode node = FindNode; node; node = tree.Next(node)) {
    if (tree.Level(node) < 2) continue;
    COLEObject* entry = tree.Data(node);
    if (!entry || !entry->Find(FindText, FindMatchCase, FindWholeValue)) continue;
    tree.MakeVisibleAndSelect(node);
    tree.RunSelectionHandler(node);
    entry->SelectFoundRow();
    FindNode = node;
    return true;
  }
  FindNode = 0;
  return false;
}

void TCOLESettings::Find(const std::string& text, bool matchCase, bool wholeValue) {
  BusyCursor();
  FindNode = windows_.tree->First();
  FindText = text;
  FindMatchCase = matchCase;
  FindWholeValue = wholeValue;
  const bool found = SearchFrom();
  NormalCursor();
  if (!found) InfoMessage("Sorry, no matching objects found.");
}

void TCOLESettings::FindNext() {
  BusyCursor();
  bool found = false;
  if (FindNode) {
    FindNode = windows_.tree->Next(FindNode);
    found = SearchFrom();
  }
  NormalCursor();
  if (!found) InfoMessage("Finished searching through all available objects.");
}

std::string TCOLESettings::InformationText() const {
  // A reading that found nothing but damage says so rather than "no objects".
  if (Entries.empty() && ReadStatus == ReadComplete && Notice.empty()) {
    return "Currently there are no objects available. Please select \"View\" -> \"Refresh\" "
           "from the menu to start reading the COM information.";
  }
  const char* status = ReadStatus == ReadInterrupted ? "Status: Interrupted by user, %1 objects not read."
                       : ReadStatus == ReadDenied
                           ? "Status: The computer has denid the access to %1 objects."
                           : "Status: OK, all available objects have been read.";
  std::string text = ReplaceParam(status, std::to_string(NotReadCount)) + "\n\n";
  text += ReplaceParam("%1 Objects displayed", std::to_string(Entries.size())) + "\n\n";
  const std::pair<std::int32_t, const char*> lines[] = {
      {EmbeddableCount, "Embeddable Objects"}, {AutomationCount, "Automation Objects"},
      {ControlCount, "ActiveX Controls"},      {ShellExtensionCount, "Shell Extensions"},
      {DocumentCount, "Documents"},            {OtherCount, "Other Objects"},
  };
  for (const auto& [count, name] : lines) text += std::to_string(count) + " " + name + "\n";
  if (!Notice.empty()) text += "\n" + Notice + "\n";
  if (!FileDamage.empty()) text += "\n" + FileDamage + ".\n";
  return text;
}

void TCOLESettings::ShowInformation() { InfoMessage(InformationText()); }

}  // namespace orbel
