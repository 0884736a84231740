// The extras of a reading: what a user's view and the 32-bit view add to the
// entries, the tree and the summary.
#include "catalogue/ClassExtras.h"

#include <map>
#include <unordered_set>

#include "catalogue/COLESettingsUnit.h"
#include "model/COLEObjectIconsUnit.h"
#include "model/COLEObjectRegistrySettingsUnit.h"
#include "platform/base/Text.h"

namespace orbel {

const char* const kScopeHelp =
    "Shows where this object is registered. \"Machine\" means it comes from the computer's own "
    "settings only, which every user shares. \"User\" means only the user's own classes "
    "register it, so only the programs this user runs can use it. \"Both\" means the user's "
    "classes change an object the computer registers: for this user's programs the user's "
    "values win, and the rows marked \"(machine)\" show what the computer itself has.";

const char* const kViewHelp =
    "On a 64-bit Windows, 32-bit programs see a list of COM objects of their own (it is kept "
    "below \"Wow6432Node\" in the registry). An object of that list is used by 32-bit programs "
    "only; 64-bit programs use the object of the same GUID in the main list, if there is one.";

const char* const kTreatAsHelp =
    "If an object has a \"Treat As\" setting, Windows creates the object named here instead, "
    "whenever a program asks for this one. It is meant to let a newer object stand in for an "
    "older one, but it can just as well send a well known object to something else entirely.";

const char* const kResolvedServerHelp =
    "The file Windows really runs when a program asks for this object: because of \"Treat As\" "
    "it is the file of the object named there (its control, or its server if it has no "
    "control), not this object's own. <Unknown> means that object is not registered here.";

std::string MachineRowHelp(const std::string& row) {
  return "The value this computer itself registers for \"" + row +
         "\". The user's own classes replace it with the value in the row \"" + row +
         "\": a program run by this user gets the user's value, not this one. A control or "
         "server changed this way is an old trick to have a program run for every user who "
         "uses the object, so have a look at the file the user's value names.";
}

std::vector<ExtraRow> TreatAsRows(const COLEObject& entry, const COLEObject* target) {
  const std::string treatAs = entry.RegistrySettings->TreatAs.str();
  std::string server = kUnknown;
  if (target) {
    const Rows rows = RowsOf(*target);
    for (const char* name : {"Control", "Server"}) {
      if (const std::string& value = RowValue(rows, name); value != kUnknown) {
        server = value;
        break;
      }
    }
  }
  return {{"Treat As", target ? treatAs + " (" + target->DisplayName + ")" : treatAs, kTreatAsHelp},
          {kResolvedServerRow, server, kResolvedServerHelp}};
}

namespace {

std::string ScopeText(ClassScope scope) {
  switch (scope) {
    case ClassScope::User:
      return "User";
    case ClassScope::Both:
      return "Both (the user's values win)";
    default:
      return "Machine";
  }
}

}  // namespace

const ClassExtras* TCOLESettings::ExtrasOf(const COLEObject* entry) const {
  const auto found = Extras.find(entry);
  return found == Extras.end() ? nullptr : &found->second;
}

void TCOLESettings::DescribeEntries(const std::vector<const COLEObject*>& secondList) {
  Extras.clear();
  const bool views = ClassList == kClassList32 || !SecondClassList.empty();
  if (!UserView && !views) return;
  const std::unordered_set<const COLEObject*> second(secondList.begin(), secondList.end());
  const auto listOf = [&](const COLEObject* entry) -> const std::string& {
    return second.count(entry) > 0 ? SecondClassList : ClassList;
  };
  // The entries by class list and GUID, for the classes TreatAs names.
  std::map<std::string, const COLEObject*> byGuid;
  for (const auto& entry : Entries) {
    byGuid.emplace(listOf(entry.get()) + "\\" + platform::AsciiUpper(entry->RegistrySettings->Guid),
                   entry.get());
  }
  for (const auto& owned : Entries) {
    const COLEObject& entry = *owned;
    const std::string& list = listOf(&entry);
    const std::string guid = entry.RegistrySettings->Guid.str();
    ClassExtras extras;
    extras.view = list == kClassList32 ? "32" : "64";
    if (extras.view == "32") extras.badges |= BadgeView32;
    if (UserView) {
      const ClassScope scope = UserView->ScopeOf(list, guid);
      extras.scope = scope;
      if (scope != ClassScope::Machine) extras.badges |= BadgeUser;
      const COLEObject* machine =
          scope == ClassScope::Both ? UserView->MachineEntry(list, guid) : nullptr;
      if (machine) {
        for (const auto& [name, before, after] : OverridesOf(entry, *machine)) {
          const std::string row = name == "TreatAs" ? "Treat As" : name;
          extras.rows.push_back(
              {row + " (machine)", before.empty() ? kUnknown : before, MachineRowHelp(row)});
        }
      }
      extras.rows.push_back({"Scope", ScopeText(scope), kScopeHelp});
    }
    if (views) {
      extras.rows.push_back(
          {"View", extras.view == "32" ? "32-bit programs (Wow6432Node)" : "64-bit programs",
           kViewHelp});
    }
    if (const std::string treatAs = entry.RegistrySettings->TreatAs.str(); !treatAs.empty()) {
      const auto target = byGuid.find(list + "\\" + platform::AsciiUpper(treatAs));
      for (ExtraRow& row : TreatAsRows(entry, target == byGuid.end() ? nullptr : target->second)) {
        extras.rows.push_back(std::move(row));
      }
    }
    Extras.emplace(&entry, std::move(extras));
  }
}

std::vector<std::string> TCOLESettings::AppendExtraRows(const COLEObject& entry, bool hideUnknown) {
  std::vector<std::string> helps;
  const ClassExtras* extras = ExtrasOf(&entry);
  if (!extras || extras->rows.empty()) return helps;
  const int image = entry.Icons ? entry.Icons->ExtraImage() : 0;
  windows_.list->BeginUpdate();
  for (const ExtraRow& row : extras->rows) {
    if (hideUnknown && row.value == kUnknown) continue;
    windows_.list->AppendRow(row.caption, image, row.value);
    helps.push_back(row.help);
  }
  windows_.list->EndUpdate();
  return helps;
}

std::string TCOLESettings::ViewSummaryText() const {
  std::string text;
  if (UserView) {
    int counts[3] = {};
    for (const auto& [entry, extras] : Extras) {
      if (extras.scope) ++counts[static_cast<int>(*extras.scope)];
    }
    text += "User's classes: " + UserLabel + "\n" + std::to_string(counts[0]) + " machine only, " +
            std::to_string(counts[1]) + " user only, " + std::to_string(counts[2]) +
            " on both sides\n";
    if (!UserView->UserNotice().empty()) text += UserView->UserNotice() + "\n";
    // The first few problems of either side; the companion lists them all.
    std::vector<std::string> problems;
    for (const auto& damage : UserView->Damages()) {
      problems.push_back("The " + damage.side + "'s side: " + damage.key + ": " + damage.message);
    }
    problems.insert(problems.end(), UserView->Warnings().begin(), UserView->Warnings().end());
    constexpr std::size_t kShown = 5;
    for (std::size_t i = 0; i < problems.size() && i < kShown; ++i) text += problems[i] + "\n";
    if (problems.size() > kShown) {
      text += "and " + std::to_string(problems.size() - kShown) + " more problems\n";
    }
  }
  if (ClassList == kClassList32 || !SecondClassList.empty()) {
    int view32 = 0;
    for (const auto& [entry, extras] : Extras) view32 += extras.view == "32" ? 1 : 0;
    text += std::to_string(view32) + " Objects of 32-bit programs\n";
  }
  return text;
}

}  // namespace orbel
