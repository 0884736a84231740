#include "model/COLEObjectUnit.h"

#include <array>

#include "platform/base/Text.h"
#include "tools/Vell_Tools.h"

namespace orbel {
namespace {

using platform::AsciiUpper;

constexpr std::array<const char*, 25> kAttributeNames = {
    "",
    "Name",
    "Type",
    "GUID",
    "RegPath",
    "Convert to",
    "",
    "COM Name (with Version)",
    "COM Name (no Version)",
    "OLE 1.0 Name",
    "Type Library Name",
    "Last change",
    "Control (16bit)",
    "Control",
    "Threading",
    "Server (16bit)",
    "Server",
    "Handler (16bit)",
    "Handler",
    "Handler Threading",
    "Development Icon (16bit)",
    "Development Icon",
    "Default Icon",
    "Version",
    "Misc. Settings",
};

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

bool IsUnknownOrEmpty(const std::string& value) { return value.empty() || value == kUnknown; }

// The kind by the first rule that holds.
std::int32_t DecideKind(const COLEObjectRegistrySettings& record) {
  const std::string_view vipid = record.VersionIndependentProgID;
  const std::string_view pid = record.ProgID;
  if (record.IsDocObject || Contains(vipid, ".Document") || Contains(pid, ".Document")) {
    return KindDocument;
  }
  if (record.IsProgrammable || Contains(vipid, ".Application") || Contains(pid, ".Application.") ||
      Contains(vipid, ".App") || Contains(pid, ".App.") || Contains(vipid, ".Library") ||
      Contains(pid, ".Library.") || Contains(vipid, ".Lib") || Contains(pid, ".Lib.")) {
    return KindAutomation;
  }
  if (record.IsControl) return KindControl;
  if (record.IsShellExtension) return KindShellExtension;
  if (record.IsInsertable) return KindEmbeddable;
  return KindOther;
}

// Closes the list's update bracket however the filling ends.
class UpdateBracket {
 public:
  explicit UpdateBracket(AttributeList& list) : list_(list) { list_.BeginUpdate(); }
  ~UpdateBracket() { list_.EndUpdate(); }
  UpdateBracket(const UpdateBracket&) = delete;
  UpdateBracket& operator=(const UpdateBracket&) = delete;

 private:
  AttributeList& list_;
};

}  // namespace

std::string_view KindDisplayName(std::int32_t kind) {
  switch (kind) {
    case KindControl:
      return "ActiveX/OCX Control";
    case KindEmbeddable:
      return "Embeddable Object";
    case KindAutomation:
      return "Automation/Programmable Object";
    case KindShellExtension:
      return "Windows Shell Extension";
    case KindDocument:
      return "Documents";
    default:
      return "Other/Unknown Object";
  }
}

std::string AttributeName(int index) {
  return index >= 1 && index <= 24 ? kAttributeNames[static_cast<std::size_t>(index)] : "";
}

int AttributeIndexAtRow(int row) { return row < 6 ? row : row + 1; }

COLEObject::COLEObject(TPatchRegistry& reader, AttributeList* valueList, ImageList* smallImages,
                       ImageList* largeImages, std::shared_ptr<IconExtractor> extractor)
    : ValueList(valueList),
      thisComputer_(!reader.OwnsRoot()),
      smallImages_(smallImages),
      largeImages_(largeImages),
      extractor_(std::move(extractor)) {
  if (!extractor_) extractor_ = IconExtractorFor(reader.Api(), reader.Root());
  RegistrySettings = std::make_unique<COLEObjectRegistrySettings>(reader);
  const auto& record = *RegistrySettings;
  DisplayName = (Contains(record.TypeLibName, "Vell") ? record.TypeLibName : record.Name).str();
  Kind = DecideKind(record);
}

std::string COLEObject::GetValue(int index) const {
  const auto& r = *RegistrySettings;
  switch (index) {
    case 1: return DisplayName;
    case 2:
      return std::string(KindName());
    case 3: return r.Guid.str();
    case 4: return r.RegistryPath.str();
    case 5: return r.ConvertToName.str();
    case 6: return "";
    case 7: return r.ProgID.str();
    case 8: return r.VersionIndependentProgID.str();
    case 9: return r.OLE1Class.str();
    case 10: return r.TypeLibName.str();
    case 11: return r.LastChange.str();
    case 12: return r.InprocServer.str();
    case 13: return r.InprocServer32.str();
    case 14: return r.ThreadingModel.str();
    case 15: return r.LocalServer.str();
    case 16: return r.LocalServer32.str();
    case 17: return r.InProcHandler.str();
    case 18: return r.InProcHandler32.str();
    case 19: return r.HandlerThreadingModel.str();
    case 20: return r.ToolboxBitmap.str();
    case 21: return r.ToolboxBitmap32.str();
    case 22: return r.DefaultIcon.str();
    case 23: return r.Version.str();
    case 24: return r.MiscStatus.str();
    default:
      PlainMessage("Unknown value in GetValue (COLEObject) of " + std::to_string(index));
      return "";
  }
}

void COLEObject::AddRow(const std::string& caption, const std::string& value, int image) {
  if (HideUnknown && value == kUnknown) return;
  ValueList->AppendRow(caption, image, value);
}

void COLEObject::FillValueList() {
  UpdateBracket bracket(*ValueList);
  ValueList->DeleteAllRows();
  if (!Icons) Icons = std::make_unique<COLEObjectIcons>(smallImages_, largeImages_, extractor_);
  Icons->PrepareIcons([this](int index) { return GetValue(index); });
  for (int row = 1; row <= kFixedRowCount; ++row) {
    const int index = AttributeIndexAtRow(row);
    AddRow(AttributeName(index), GetValue(index), Icons->ImageFor(index));
  }
  const auto& record = *RegistrySettings;
  for (std::size_t k = 0; k < record.OtherSubkeyNames.size(); ++k) {
    AddRow(record.OtherSubkeyNames[k], record.OtherSubkeyValues[k], Icons->ExtraImage());
  }
}

bool COLEObject::Matches(const std::string& value) const {
  if (value == kUnknown) return false;
  const std::string haystack = MatchCase ? value : AsciiUpper(value);
  const std::string needle = MatchCase ? SearchText : AsciiUpper(SearchText);
  if (WholeValue) return haystack == needle;
  return !needle.empty() && Contains(haystack, needle);
}

bool COLEObject::Find(const std::string& text, bool matchCase, bool wholeValue) {
  SearchText = text;
  MatchCase = matchCase;
  WholeValue = wholeValue;
  FoundIndex = 0;
  for (int row = 1; row <= kFixedRowCount; ++row) {
    if (Matches(GetValue(AttributeIndexAtRow(row)))) {
      FoundIndex = row;
      return true;
    }
  }
  const auto& values = RegistrySettings->OtherSubkeyValues;
  for (std::size_t k = 0; k < values.size(); ++k) {
    if (Matches(values[k])) {
      FoundIndex = 24 + static_cast<std::int32_t>(k);
      return true;
    }
  }
  return false;
}

void COLEObject::SelectFoundRow() {
  try {
    int position = FoundIndex - 1;
    if (HideUnknown) {
      const int fixedRows = std::min(FoundIndex - 1, kFixedRowCount);
      position = 0;
      for (int row = 1; row <= fixedRows; ++row) {
        if (GetValue(AttributeIndexAtRow(row)) != kUnknown) ++position;
      }
      if (FoundIndex > kFixedRowCount) position += FoundIndex - 24;
    }
    ValueList->SetFocus();
    ValueList->SelectRow(position);
  } catch (...) {
    // The row may be gone; a failed selection changes nothing else.
  }
}

void COLEObject::TestCreate() {
  const auto creation = platform::ObjectCreationFor(thisComputer_, [] { PumpMessages(); });
  TestCreate(*creation);
}

void COLEObject::TestCreate(platform::ObjectCreation& creation) {
  BusyCursor();
  std::string name = GetValue(8);
  if (IsUnknownOrEmpty(name)) name = GetValue(7);
  if (IsUnknownOrEmpty(name)) {
    NormalCursor();
    ErrorMessage(
        "No COM/OLE name is available for this object. Vell Orbel is unable to test objects "
        "without OLE names.\n\nPlease choose another object and try again.");
    return;
  }
  const bool created = creation.TryCreate(name);
  NormalCursor();
  if (created) {
    InfoMessage(ReplaceParam("The object '%1' was succesfully created and seems to be OK.", name));
  } else {
    ErrorMessage(ReplaceParam(
        "Vell Orbel was unable to create the object '%1'.\n\nNote: This does not automatically "
        "mean that this object is corrupt! Some objects simply can't be tested with Vell Orbel.",
        name));
  }
}

}  // namespace orbel
