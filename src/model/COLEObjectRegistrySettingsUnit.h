// The registration record of one COM class: everything its class key holds,
// read once while the reader stands on the key, kept as display text.
#pragma once

#include <string>
#include <vector>

#include "registry/PatchedRegistry.h"

namespace orbel {

// The text of every value the registration does not provide.
inline constexpr const char* kUnknown = "<Unknown>";

class COLEObjectRegistrySettings {
 public:
  // Reads the class key the reader stands on. Registry errors propagate.
  explicit COLEObjectRegistrySettings(TPatchRegistry& reader);

  std::string Name;
  std::string RegistryPath;
  std::string Guid;
  std::string LastChange;
  // The class key's last-write time; 0 when the key has none.
  platform::FileTime LastWriteTime = 0;
  std::string InprocServer;
  std::string InprocServer32;
  std::string ThreadingModel;
  std::string LocalServer;
  std::string LocalServer32;
  // The LocalServer32 key's ServerExecutable value: the program COM starts
  // instead of the command line, when present; else empty.
  std::string ServerExecutable;
  std::string InProcHandler;
  std::string InProcHandler32;
  std::string HandlerThreadingModel;
  std::string ToolboxBitmap;
  std::string ToolboxBitmap32;
  std::string ProgID;
  std::string VersionIndependentProgID;
  std::string OLE1Class;
  std::string Version;
  std::string DefaultIcon;
  std::string MiscStatus;
  std::string TypeLibName;
  std::string ConvertToName;
  // The default value of the TreatAs subkey as it stands (a class GUID);
  // empty when there is none. Not one of the window's rows.
  std::string TreatAs;
  // The class's AppID value and, when that application is a Windows service
  // (its AppID key's LocalService value), the service's name; else empty.
  // COM then starts the service rather than LocalServer32. Not rows.
  std::string AppID;
  std::string LocalService;

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
