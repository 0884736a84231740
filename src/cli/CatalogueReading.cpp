#include "cli/CatalogueReading.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

#include "tools/Vell_Tools.h"

namespace orbel {
namespace {

constexpr int kFixedImages = 17;

class NoIcons : public IconExtractor {
 public:
  platform::ExtractedIcon Extract(const std::string&, std::int32_t) override { return {}; }
};

}  // namespace

CatalogueReading::CatalogueReading(platform::RegistryApi& registry, const std::string& computer,
                                   std::ostream* progressOut, const char* classList)
    : small_(kFixedImages), large_(kFixedImages) {
  int lastPercent = -1;
  progress_.onStep = [&](int position, int maximum) {
    const int percent = maximum > 0 ? position * 100 / maximum : 0;
    if (!progressOut || percent == lastPercent) return;
    lastPercent = percent;
    *progressOut << "\rReading class keys: " << std::min(position, maximum) << " of " << maximum
                 << std::flush;
  };
  CatalogueWindows windows{&registry,
                           &progress_,
                           &tree_,
                           &list_,
                           &small_,
                           &large_,
                           nullptr,
                           [](platform::RegistryApi&, platform::HKey) {
                             return std::make_shared<NoIcons>(); }};
  catalogue_ = std::make_unique<TCOLESettings>(windows);
  catalogue_->RequestedComputer = computer;
  catalogue_->ClassList = classList;
  catalogue_->LoadCatalogue();
  progress_.onStep = nullptr;
  if (progressOut && lastPercent >= 0) *progressOut << "\r\033[K" << std::flush;
}

CatalogueReading::~CatalogueReading() = default;

std::string CatalogueReading::Problem() const {
  if (!catalogue_->ViewedComputer.empty() && catalogue_->ReadProblem.empty()) return {};
  return catalogue_->ReadProblem.empty() ? "the registry cannot be read" : catalogue_->ReadProblem;
}

std::optional<std::string> IsoTime(platform::FileTime time) {
  if (time == 0) return std::nullopt;
  using namespace std::chrono;
  // Seconds from 1601-01-01 to 1970-01-01.
  constexpr std::int64_t kEpochGap = 11644473600;
  const auto seconds = static_cast<std::int64_t>(time / 10'000'000) - kEpochGap;
  const sys_seconds at{std::chrono::seconds(seconds)};
  const auto day = floor<days>(at);
  const year_month_day date{day};
  if (static_cast<int>(date.year()) > 9999) return std::nullopt;
  const hh_mm_ss clock{at - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return std::string(text);
}

namespace {

// The entries of a reading by GUID; of two keys with one GUID (in case
// only) the first is kept.
std::vector<const COLEObject*> ByGuid(const TCOLESettings& catalogue) {
  std::vector<const COLEObject*> entries;
  entries.reserve(static_cast<std::size_t>(catalogue.EntryCount()));
  for (int i = 0; i < catalogue.EntryCount(); ++i) entries.push_back(catalogue.EntryAt(i));
  std::stable_sort(entries.begin(), entries.end(), [](const COLEObject* a, const COLEObject* b) {
    return a->RegistrySettings->Guid < b->RegistrySettings->Guid;
  });
  entries.erase(std::unique(entries.begin(), entries.end(),
                            [](const COLEObject* a, const COLEObject* b) {
                              return a->RegistrySettings->Guid == b->RegistrySettings->Guid;
                            }),
                entries.end());
  return entries;
}

// The rows compared: the window's, then the TreatAs class when there is one.
Rows ComparedRows(const COLEObject& entry) {
  Rows rows = RowsOf(entry);
  if (!entry.RegistrySettings->TreatAs.empty()) {
    rows.emplace_back("TreatAs", entry.RegistrySettings->TreatAs);
  }
  return rows;
}

ClassChange WholeClass(const COLEObject& entry, ClassChange::Kind kind) {
  ClassChange change{kind, entry.RegistrySettings->Guid.str(), entry.DisplayName, {}};
  for (auto& [name, value] : ComparedRows(entry)) {
    // A row the class lacks is on neither side.
    if (value == kUnknown) continue;
    if (kind == ClassChange::Added) {
      change.rows.emplace_back(std::move(name), std::nullopt, std::move(value));
    } else {
      change.rows.emplace_back(std::move(name), std::move(value), std::nullopt);
    }
  }
  return change;
}

// The rows that differ; the fixed rows stand at the same places on both
// sides, the others are matched by name.
std::optional<ClassChange> Differences(const COLEObject& before, const COLEObject& after) {
  const Rows a = ComparedRows(before), b = ComparedRows(after);
  ClassChange change{
      ClassChange::Changed, after.RegistrySettings->Guid.str(), after.DisplayName, {}};
  const std::size_t fixed = kFixedRowCount;
  for (std::size_t i = 0; i < fixed; ++i) {
    if (a[i].second != b[i].second) change.rows.emplace_back(a[i].first, a[i].second, b[i].second);
  }
  // The other rows by name, the first of a name winning; ordered, so that a
  // class with many rows is matched in n log n whatever their names.
  using Index = std::map<std::string_view, const std::string*>;
  const auto index = [fixed](const Rows& rows) {
    Index byName;
    for (std::size_t i = fixed; i < rows.size(); ++i)
      byName.emplace(rows[i].first, &rows[i].second);
    return byName;
  };
  const Index inA = index(a), inB = index(b);
  const auto find = [](const Index& byName, const std::string& name) -> const std::string* {
    const auto it = byName.find(name);
    return it == byName.end() ? nullptr : it->second;
  };
  for (std::size_t i = fixed; i < a.size(); ++i) {
    const std::string* later = find(inB, a[i].first);
    if (!later) {
      change.rows.emplace_back(a[i].first, a[i].second, std::nullopt);
    } else if (*later != a[i].second) {
      change.rows.emplace_back(a[i].first, a[i].second, *later);
    }
  }
  for (std::size_t i = fixed; i < b.size(); ++i) {
    if (!find(inA, b[i].first)) change.rows.emplace_back(b[i].first, std::nullopt, b[i].second);
  }
  if (change.rows.empty()) return std::nullopt;
  return change;
}

}  // namespace

std::vector<ClassChange> CompareCatalogues(const TCOLESettings& before, const TCOLESettings& after,
                                           int& unchanged) {
  const auto a = ByGuid(before), b = ByGuid(after);
  std::vector<ClassChange> changes;
  unchanged = 0;
  std::size_t i = 0, j = 0;
  while (i < a.size() || j < b.size()) {
    if (j == b.size() ||
        (i < a.size() && a[i]->RegistrySettings->Guid < b[j]->RegistrySettings->Guid)) {
      changes.push_back(WholeClass(*a[i++], ClassChange::Removed));
    } else if (i == a.size() || b[j]->RegistrySettings->Guid < a[i]->RegistrySettings->Guid) {
      changes.push_back(WholeClass(*b[j++], ClassChange::Added));
    } else {
      if (auto change = Differences(*a[i], *b[j])) {
        changes.push_back(std::move(*change));
      } else {
        ++unchanged;
      }
      ++i;
      ++j;
    }
  }
  return changes;
}

}  // namespace orbel
