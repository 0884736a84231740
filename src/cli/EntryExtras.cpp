#include "cli/EntryExtras.h"

#include "cli/DeletedView.h"
#include "cli/FileCheck.h"
#include "cli/FindingsView.h"
#include "cli/UserView.h"

namespace orbel {

EntryExtras ExtrasOf(const COLEObject& entry, const Rows& rows, const ReadingViews& views) {
  EntryExtras extras;
  const auto text = IsoTime(entry.RegistrySettings->LastWriteTime);
  extras.fields["lastWrite"] = text ? json(*text) : json(nullptr);
  extras.fields["view"] = views.view;
  const std::string_view treatAs = entry.RegistrySettings->TreatAs;
  extras.fields["treatAs"] = treatAs.empty() ? json(nullptr) : json(treatAs);
  if (views.user) views.user->AddFields(entry, rows, views.view, extras.fields);
  if (views.deleted) views.deleted->AddFields(entry, extras.fields);
  std::optional<std::vector<CheckedFile>> checked;
  if (views.files) {
    json files;
    checked = views.files->Check(entry, rows, views.view == "32", files);
    extras.missingFiles = FileCheck::MissingAmong(*checked);
    extras.fields["files"] = std::move(files);
  }
  if (views.findings) {
    extras.findings = views.findings->AddFields(entry, rows, views.view,
                                                checked ? &*checked : nullptr, views.files,
                                                extras.fields);
  }
  return extras;
}

json ReadErrors(const TCOLESettings& catalogue, const char* side) {
  json errors = json::array();
  for (const auto& error : catalogue.ReadErrors) {
    json item = {{"key", error.key}, {"message", error.message}};
    if (side) item["side"] = side;
    errors.push_back(std::move(item));
  }
  return errors;
}

json ReadErrors(const TCOLESettings& catalogue, const ReadingViews& views) {
  json errors = ReadErrors(catalogue, nullptr);
  if (views.user) views.user->AddErrors(errors);
  return errors;
}

std::string Dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace orbel
