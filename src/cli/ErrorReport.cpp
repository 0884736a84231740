#include "cli/ErrorReport.h"

#include <string>

#include "cli/TerminalText.h"
#include "cli/UserView.h"

namespace orbel {

json ErrorsOfReadings(const std::vector<ViewedReading>& readings, const ReadingViews& views) {
  bool narrow = false;
  for (const auto& read : readings) narrow = narrow || read.view != "64";
  json errors = json::array();
  for (const auto& [view, reading] : readings) {
    for (auto& error : ReadErrors(reading->Catalogue(), nullptr)) {
      if (narrow) error["view"] = view;
      errors.push_back(std::move(error));
    }
  }
  if (views.user) views.user->AddErrors(errors);
  return errors;
}

int ReportReadErrors(const json& errors, std::ostream& err) {
  const auto text = [](const json& item, const char* name) {
    return item.contains(name) ? item[name].get<std::string>() : std::string();
  };
  for (const auto& error : errors) {
    std::string where;
    if (const std::string side = text(error, "side"); !side.empty()) where += side + " side";
    if (const std::string view = text(error, "view"); !view.empty()) {
      where += (where.empty() ? "" : ", ") + view + "-bit view";
    }
    const std::string key = text(error, "key");
    err << "orbel-catalogue: not read: " << TerminalText(key.empty() ? "(file)" : key)
        << (where.empty() ? "" : " (" + where + ")") << ": " << TerminalText(text(error, "message"))
        << "\n";
  }
  return errors.empty() ? 0 : 1;
}

}  // namespace orbel
