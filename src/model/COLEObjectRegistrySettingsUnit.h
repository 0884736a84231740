// The registration record of one COM class: everything its class key holds,
// read once while the reader stands on the key, kept as display text.
// Most fields of most records hold nothing or "<Unknown>": the texts are
// FieldTexts, a pointer each, and those two take no room beyond it.
#pragma once

#include <string>
#include <vector>

#include "model/FieldText.h"
#include "registry/PatchedRegistry.h"

namespace orbel {

class COLEObjectRegistrySettings {
 public:
  // Reads the class key the reader stands on. Registry errors propagate.
  explicit COLEObjectRegistrySettings(TPatchRegistry& reader);

  FieldText Name;
  FieldText RegistryPath;
  FieldText Guid;
  FieldText LastChange;
  // The class key's last-write time; 0 when the key has none.
  platform::FileTime LastWriteTime = 0;
  FieldText InprocServer;
  FieldText InprocServer32;
  FieldText ThreadingModel;
  FieldText LocalServer;
  FieldText LocalServer32;
  // The LocalServer32 key's ServerExecutable value: the program COM starts
  // instead of the command line, when present; else empty.
  FieldText ServerExecutable;
  FieldText InProcHandler;
  FieldText InProcHandler32;
  FieldText HandlerThreadingModel;
  FieldText ToolboxBitmap;
  FieldText ToolboxBitmap32;
  FieldText ProgID;
  FieldText VersionIndependentProgID;
  FieldText OLE1Class;
  FieldText Version;
  FieldText DefaultIcon;
  FieldText MiscStatus;
  FieldText TypeLibName;
  FieldText ConvertToName;
  // The default value of the TreatAs subkey as it stands (a class GUID);
  // empty when there is none. Not one of the window's rows.
  FieldText TreatAs;
  // The class's AppID value and, when that application is a Windows service
  // (its AppID key's LocalService value), the service's name; else empty.
  // COM then starts the service rather than LocalServer32. Not rows.
  FieldText AppID;
  FieldText LocalService;

  bool IsInsertable = false;
  bool IsProgrammable = false;
  bool IsControl = false;
  bool IsShellExtension = false;
  bool IsDocObject = false;

  std::vector<std::string> OtherSubkeyNames;
  std::vector<std::string> OtherSubkeyValues;
  // How many subkeys of the class key could not be listed (damage): the
  // extra attributes may then lack some.
  std::uint32_t SubkeysNotListed = 0;

  // The name of a predefined root, "<Unknown>" for any other.
  static std::string RootName(HKey root);
  // A last-write time as year/month/day in UTC; empty for the all-zero day
  // and for times the calendar cannot hold.
  static std::string DateOf(platform::FileTime time);
};

}  // namespace orbel
