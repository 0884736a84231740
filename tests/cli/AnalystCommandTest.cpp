// The companion's analyst views: a user's classes over the machine's, the
// server files looked up in the image, and two registries compared.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/CatalogueCommand.h"
#include "platform/computer/LocalImage.h"
#include "support/CompanionRun.h"
#include "support/Hivex.h"
#include "support/RegfWriter.h"
#include "support/TempFolder.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using testing::Command;
using testing::Outcome;

// The JSON lines by GUID, the summary under "summary".
std::map<std::string, json> ByGuid(const std::string& text) {
  std::map<std::string, json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    json item = json::parse(line);
    if (item.contains("summary")) {
      lines["summary"] = item["summary"];
    } else {
      lines[item["guid"].get<std::string>()] = item;
    }
  }
  return lines;
}

const std::string kOverridden = "{A0000000-0000-4000-8000-000000000001}";
const std::string kMachineOnly = "{A0000000-0000-4000-8000-000000000002}";
const std::string kUserOnly = "{A0000000-0000-4000-8000-000000000003}";

std::string WineKey(const std::string& path, const std::string& values) {
  std::string escaped;
  for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return "\n[Software\\\\Classes\\\\CLSID\\\\" + escaped + "] 1700000000\n" + values + "\n";
}

// A Wine prefix: the machine holds the overridden class and a class of its
// own whose server file is not in drive_c; the user overrides the first
// class's server with one in the profile and has a class of its own.
fs::path WritePrefix(const testing::TempFolder& folder) {
  const std::string header = "WINE REGISTRY Version 2\n#arch=win64\n";
  folder.Write(
      "prefix/system.reg",
      header + WineKey(kOverridden, "@=\"Overridden\"") +
          WineKey(kOverridden + "\\InprocServer32",
                  "@=\"C:\\\\windows\\\\system32\\\\over.dll\"\n\"ThreadingModel\"=\"Both\"") +
          WineKey(kMachineOnly, "@=\"Machine \\\"only\\\", kept\"") +
          WineKey(kMachineOnly + "\\InprocServer32",
                  "@=\"C:\\\\windows\\\\system32\\\\gone.dll\"") +
          WineKey(kMachineOnly + "\\LocalServer32", "@=\"%NOSUCHFOLDER%\\\\x.exe /run\"") +
          WineKey(kMachineOnly + "\\DefaultIcon",
                  "@=\"C:\\\\windows\\\\system32\\\\over.dll,-3\""));
  folder.Write("prefix/user.reg",
               header + WineKey(kOverridden, "@=\"Overridden\"") +
                   WineKey(kOverridden + "\\InprocServer32",
                           "@=\"C:\\\\users\\\\me\\\\AppData\\\\Local\\\\over.dll\"\n"
                           "\"ThreadingModel\"=\"Both\"") +
                   WineKey(kUserOnly, "@=\"User only\"") +
                   WineKey(kUserOnly + "\\InprocServer32", "@=\"%APPDATA%\\\\u.dll\""));
  folder.Write("prefix/drive_c/windows/system32/over.dll", "MZ");
  return folder.path() / "prefix";
}

TEST(AnalystCommand, UserClassesLieOverTheMachinesAsTheUserSeesThem) {
  const testing::TempFolder folder;
  const std::string prefix = WritePrefix(folder).string();
  const Outcome run = Command({"--json", "--user-classes", prefix, prefix});
  ASSERT_EQ(run.status, 0) << run.err;
  auto lines = ByGuid(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;

  const json& both = lines[kOverridden];
  EXPECT_EQ(both["scope"], "both");
  EXPECT_EQ(both["overrides"], json::parse(R"([["Control", "C:\\windows\\system32\\over.dll",
                                              "C:\\users\\me\\AppData\\Local\\over.dll"]])"));
  EXPECT_EQ(both["userWritable"], json::parse(R"(["Control"])"));
  EXPECT_EQ(both["lastWrite"], "2023-11-14T22:13:20Z");

  EXPECT_EQ(lines[kUserOnly]["scope"], "user");
  EXPECT_FALSE(lines[kUserOnly].contains("overrides"));
  EXPECT_EQ(lines[kUserOnly]["userWritable"], json::parse(R"(["Control"])"));
  EXPECT_EQ(lines[kMachineOnly]["scope"], "machine");
  EXPECT_EQ(lines[kMachineOnly]["userWritable"], json::array());
  EXPECT_EQ(lines["summary"]["scopes"], json::parse(R"({"machine": 1, "user": 1, "both": 1})"));

  // The same user's class from an export of HKEY_CURRENT_USER.
  const std::string exported =
      folder
          .Write("user.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\" +
                                 kUserOnly + "]\r\n@=\"Exported\"\r\n")
          .string();
  lines = ByGuid(Command({"--json", "--user-classes", exported, prefix}).out);
  EXPECT_EQ(lines[kUserOnly]["scope"], "user");
  EXPECT_EQ(lines[kUserOnly]["name"], "Exported");

  // Without the user's classes the machine's server stands.
  lines = ByGuid(Command({"--json", prefix}).out);
  EXPECT_FALSE(lines[kOverridden].contains("scope"));
  EXPECT_EQ(lines[kOverridden]["rows"][11],
            json::parse(R"(["Control", "C:\\windows\\system32\\over.dll"])"));
}

// Used to read a class key the user also has from the user's side alone: a
// user key holding only a server lost the class's name, threading model and
// last write, with false overrides.
TEST(AnalystCommand, AUsersServerKeyOverridesTheServerInEachView) {
  const testing::TempFolder folder;
  const std::string header = "WINE REGISTRY Version 2\n#arch=win64\n";
  folder.Write(
      "prefix/system.reg",
      header + WineKey(kOverridden, "@=\"Shortcut\"") +
          WineKey(kOverridden + "\\InprocServer32",
                  "@=\"C:\\\\windows\\\\system32\\\\over.dll\"\n\"ThreadingModel\"=\"Both\""));
  folder.Write(
      "prefix/user.reg",
      header +
          WineKey(kOverridden + "\\InprocServer32", "@=\"C:\\\\users\\\\Public\\\\over.dll\"") +
          WineKey(kOverridden + "\\TreatAs", "@=\"" + kUserOnly + "\"") +
          "\n[Software\\\\Classes\\\\Wow6432Node\\\\CLSID\\\\" + kOverridden +
          "\\\\InprocServer32] 1700000000\n@=\"C:\\\\windows\\\\system32\\\\over.dll\"\n");
  folder.Write("prefix/drive_c/windows/syswow64/over.dll", "MZ");
  const std::string prefix = (folder.path() / "prefix").string();
  const Outcome run =
      Command({"--json", "--view", "both", "--check-files", "--user-classes", prefix, prefix});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<json> lines;
  std::istringstream in(run.out);
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  ASSERT_EQ(lines.size(), 3u) << run.out;
  const auto row = [](const json& entry, const std::string& name) {
    for (const auto& item : entry["rows"]) {
      if (item[0] == name) return item[1].get<std::string>();
    }
    return std::string();
  };

  const json& wide = lines[0];
  EXPECT_EQ(wide["view"], "64");
  EXPECT_EQ(wide["name"], "Shortcut");
  EXPECT_EQ(row(wide, "Threading"), "Both");
  EXPECT_EQ(wide["lastWrite"], "2023-11-14T22:13:20Z");
  EXPECT_EQ(wide["treatAs"], kUserOnly);
  EXPECT_EQ(wide["overrides"], json::parse(R"([
      ["Control", "C:\\windows\\system32\\over.dll", "C:\\users\\Public\\over.dll"],
      ["TreatAs", null, ")" + kUserOnly + R"("]])"));
  EXPECT_EQ(wide["files"][0]["state"], "missing");

  // The 32-bit list: System32 is SysWOW64 for its files.
  const json& narrow = lines[1];
  EXPECT_EQ(narrow["view"], "32");
  EXPECT_EQ(narrow["guid"], kOverridden);
  EXPECT_EQ(narrow["scope"], "user");
  EXPECT_EQ(narrow["treatAs"], nullptr);
  EXPECT_EQ(narrow["files"][0]["state"], "present");
  const json& summary = lines[2]["summary"];
  EXPECT_EQ(summary["entries"], 2);
  EXPECT_EQ(summary["views"]["32"]["scopes"],
            json::parse(R"({"machine": 0, "user": 1, "both": 0})"));
  EXPECT_EQ(summary["missingFiles"], 1);
}

TEST(AnalystCommand, ServerFilesAreLookedUpInTheImage) {
  const testing::TempFolder folder;
  const fs::path prefix = WritePrefix(folder);
  const Outcome run = Command({"--json", "--check-files", "--missing-only", prefix.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  auto lines = ByGuid(run.out);
  ASSERT_EQ(lines.size(), 2u) << "only the entry with a missing file, and the summary";
  EXPECT_EQ(lines[kMachineOnly]["files"], json::parse(R"([
      {"row": "Control", "path": "C:\\windows\\system32\\gone.dll", "state": "missing"},
      {"row": "Server", "path": "%NOSUCHFOLDER%\\x.exe /run", "state": "unresolved"},
      {"row": "Default Icon", "path": "C:\\windows\\system32\\over.dll,-3", "state": "present",
       "resolved": "C:\\windows\\system32\\over.dll"}])"));
  EXPECT_EQ(lines["summary"]["missingFiles"], 1);

  // A registry file alone has no files to look in.
  lines = ByGuid(Command({"--json", "--check-files", (prefix / "system.reg").string()}).out);
  EXPECT_EQ(lines[kOverridden]["files"][0]["state"], "unresolved");
  EXPECT_EQ(lines["summary"]["missingFiles"], 0);

  // CSV: the fixed columns, quoted where the text needs it, CRLF line ends.
  const Outcome csv = Command({"--csv", prefix.string()});
  ASSERT_EQ(csv.status, 0) << csv.err;
  // Each column is named once: the Name and GUID rows are the leading columns.
  EXPECT_EQ(csv.out.rfind("kind,GUID,name,lastWrite,Type,RegPath,", 0), 0u) << csv.out;
  EXPECT_NE(csv.out.find(",Version,Misc. Settings,view,treatAs,scope\r\n"), std::string::npos);
  EXPECT_NE(
      csv.out.find("\r\n2048," + kMachineOnly +
                   ",\"Machine \"\"only\"\", kept\",2023-11-14T22:13:20Z,Other/Unknown Object,"),
      std::string::npos)
      << csv.out;
}

// Hijacks as an analyst meets them on a small Wine prefix: a user's server
// for the Shortcut class, a user's TreatAs to a class served from the public
// profile, a program planted where an unquoted command line's first reading
// finds it, a deleted server file and a 16-bit row.
TEST(AnalystCommand, FindingsNameTheRowsOfHijackedClasses) {
  const testing::TempFolder folder;
  const std::string shortcut = "{00021401-0000-0000-C000-000000000046}";
  const std::string package = "{F20DA720-C02F-11CE-927B-0800095AE340}";
  const std::string devices = "{BCDE0395-E52F-467C-8E3D-C4579291692E}";
  const std::string header = "WINE REGISTRY Version 2\n#arch=win64\n";
  const auto server = [](const std::string& file) {
    return "@=\"C:\\\\windows\\\\system32\\\\" + file + "\"\n\"ThreadingModel\"=\"Both\"";
  };
  folder.Write("prefix/system.reg",
               header + WineKey(shortcut, "@=\"Shortcut\"") +
                   WineKey(shortcut + "\\InprocServer32", server("shell32.dll")) +
                   WineKey(package, "@=\"Package\"") +
                   WineKey(package + "\\InprocServer32", server("packager.dll")) +
                   WineKey(package + "\\InprocServer", "@=\"ole2.dll\"") +
                   WineKey(devices + "\\InprocServer32", server("mmdevapi.dll")));
  folder.Write("prefix/user.reg",
               header + WineKey(shortcut + "\\InprocServer32", server("lnkhelper.dll")) +
                   WineKey(package + "\\TreatAs", "@=\"" + kUserOnly + "\"") +
                   WineKey(kUserOnly + "\\InprocServer32",
                           "@=\"C:\\\\users\\\\Public\\\\helper.dll\"") +
                   WineKey(kOverridden + "\\LocalServer32",
                           "@=\"C:\\\\Program Files\\\\Vendor App\\\\app.exe\""));
  for (const char* file :
       {"windows/system32/shell32.dll", "windows/system32/lnkhelper.dll",
        "windows/system32/packager.dll", "users/Public/helper.dll",
        "Program Files/Vendor App/app.exe", "Program Files/Vendor.exe"}) {
    folder.Write(std::string("prefix/drive_c/") + file, "MZ");
  }
  const std::string prefix = (folder.path() / "prefix").string();
  const auto rules = [](const json& entry) {
    std::vector<std::string> names;
    for (const auto& finding : entry["findings"]) names.push_back(finding["rule"]);
    return names;
  };
  using Names = std::vector<std::string>;

  // The machine alone: the deleted file is the only finding.
  Outcome run = Command({"--json", "--findings", prefix});
  ASSERT_EQ(run.status, 0) << run.err;
  auto lines = ByGuid(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_EQ(rules(lines[devices]), Names{"missing-file"});
  EXPECT_EQ(lines["summary"]["missingFiles"], 1);
  EXPECT_EQ(lines["summary"]["inertFiles"], 1);
  EXPECT_EQ(lines["summary"]["findings"]["missing-file"], 1);

  run = Command({"--json", "--findings", "--user-classes", prefix, prefix});
  ASSERT_EQ(run.status, 0) << run.err;
  lines = ByGuid(run.out);
  EXPECT_EQ(lines[shortcut]["name"], "Shortcut");
  ASSERT_EQ(lines[shortcut]["overrides"].size(), 1u);
  EXPECT_EQ(lines[shortcut]["overrides"][0][0], "Control");
  EXPECT_EQ(rules(lines[shortcut]), Names{"user-shadow"});
  EXPECT_EQ(rules(lines[package]), (Names{"user-shadow", "writable-folder", "treat-as"}));
  EXPECT_EQ(rules(lines[kUserOnly]), Names{"writable-folder"});
  const json& vendor = lines[kOverridden]["files"][0];
  EXPECT_EQ(vendor["resolved"], "C:\\Program Files\\Vendor.exe");
  EXPECT_EQ(vendor["unquoted"], true);
  EXPECT_EQ(rules(lines[kOverridden]), Names{"unquoted-path"});
  EXPECT_EQ(lines["summary"]["entriesWithFindings"], 5);

  // Text: each finding under its class.
  run = Command({"--findings", "--user-classes", prefix, prefix});
  EXPECT_NE(run.out.find("\tShortcut\tboth\n\tfinding\tuser-shadow\tthe user's Control "),
            std::string::npos)
      << run.out;
}

std::string RegExport(const std::string& keys) {
  return "Windows Registry Editor Version 5.00\r\n" + keys;
}

std::string RegClass(const std::string& guid, const std::string& name, const std::string& server) {
  return "\r\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\" + guid + "]\r\n@=\"" + name +
         "\"\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\" + guid +
         "\\InprocServer32]\r\n@=\"" + server + "\"\r\n";
}

TEST(AnalystCommand, DiffReportsTheClassesAddedRemovedAndChanged) {
  const testing::TempFolder folder;
  const std::string kept = "{B0000000-0000-4000-8000-000000000001}";
  const std::string before =
      folder
          .Write("before.reg", RegExport(RegClass(kOverridden, "Changed", "a.dll") +
                                         RegClass(kMachineOnly, "Removed", "r.dll") +
                                         RegClass(kept, "Kept", "k.dll")))
          .string();
  const std::string after =
      folder
          .Write("after.reg",
                 RegExport(RegClass(kOverridden, "Changed", "b.dll") + "\r\n[HKEY_LOCAL_MACHINE" +
                           "\\Software\\Classes\\CLSID\\" + kOverridden + "\\TreatAs]\r\n@=\"" +
                           kept + "\"\r\n" + RegClass(kUserOnly, "Added", "n.dll") +
                           RegClass(kept, "Kept", "k.dll")))
          .string();
  const Outcome run = Command({before, "--diff", after});
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream in(run.out);
  std::vector<json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  ASSERT_EQ(lines.size(), 4u) << run.out;
  EXPECT_EQ(lines[0]["change"], "changed");
  EXPECT_EQ(lines[0]["guid"], kOverridden);
  // A retargeted TreatAs is a change.
  EXPECT_EQ(lines[0]["rows"], json::array({json::array({"Control", "a.dll", "b.dll"}),
                                           json::array({"TreatAs", nullptr, kept})}));
  EXPECT_EQ(lines[1]["change"], "removed");
  EXPECT_EQ(lines[1]["rows"][0], json::parse(R"(["Name", "Removed", null])"));
  EXPECT_EQ(lines[2]["change"], "added");
  EXPECT_EQ(lines[2]["name"], "Added");
  EXPECT_EQ(lines[3]["summary"]["added"], 1);
  EXPECT_EQ(lines[3]["summary"]["removed"], 1);
  EXPECT_EQ(lines[3]["summary"]["changed"], 1);
  EXPECT_EQ(lines[3]["summary"]["unchanged"], 1);
}

#ifdef ORBEL_HAVE_HIVEX
void WriteHive(const fs::path& file, platform::MemoryStore& store, const std::string& under) {
  std::string error;
  fs::create_directories(file.parent_path());
  const auto node = store.Find(under);
  ASSERT_TRUE(node);
  ASSERT_TRUE(platform::WriteRegfHiveFile(file, store, *node, {}, error)) << error;
}

// Points the value whose data is `text` (UTF-16) outside the hive.
void BreakValue(const fs::path& file, const std::string& text) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), {});
  in.close();
  std::string wide;
  for (char c : text) wide += std::string{c, '\0'};
  const std::size_t data = bytes.find(wide);
  ASSERT_NE(data, std::string::npos);
  const auto cell = static_cast<std::uint32_t>(data - 4 - 4096);
  const std::string offset(reinterpret_cast<const char*>(&cell), 4);
  std::size_t vk = bytes.find("vk");
  while (vk != std::string::npos && bytes.compare(vk + 8, 4, offset) != 0)
    vk = bytes.find("vk", vk + 1);
  ASSERT_NE(vk, std::string::npos);
  bytes.replace(vk + 8, 4, std::string("\xf0\xff\xff\x7f", 4));
  std::ofstream(file, std::ios::binary) << bytes;
}
#endif

TEST(AnalystCommand, UsersOfAWindowsVolumeAndADamagedUserHive) {
  ORBEL_SKIP_WITHOUT_HIVEX();
#ifdef ORBEL_HAVE_HIVEX
  const testing::TempFolder folder;
  platform::MemoryStore machine;
  machine.PutString(machine.EnsurePath("Software\\Classes\\CLSID\\" + kOverridden), "",
                    "Machine's");
  machine.PutString(
      machine.EnsurePath("Software\\Classes\\CLSID\\" + kOverridden + "\\InprocServer32"), "",
      "C:\\Windows\\over.dll");
  WriteHive(folder.path() / "Windows/System32/config/SOFTWARE", machine, "Software");
  platform::MemoryStore user;
  user.PutString(user.EnsurePath("CLSID\\" + kOverridden + "\\InprocServer32"), "",
                 "C:\\Users\\eve\\AppData\\Roaming\\over.dll");
  user.PutString(user.EnsurePath("CLSID\\" + kUserOnly), "", "Eve's own");
  const fs::path local = "AppData/Local/Microsoft/Windows/UsrClass.dat";
  WriteHive(folder.path() / "Users/eve" / local, user, "");
  WriteHive(folder.path() / "Users/bob" / local, user, "");
  BreakValue(folder.path() / "Users/eve" / local, "C:\\Users\\eve\\AppData\\Roaming\\over.dll");

  const std::string volume = folder.path().string();
  const Outcome users = Command({"--users", volume});
  ASSERT_EQ(users.status, 0) << users.err;
  EXPECT_EQ(users.out.substr(0, 4), "bob\t");
  EXPECT_NE(users.out.find("\neve\t"), std::string::npos);

  auto lines = ByGuid(Command({"--json", "--user", "bob", volume}).out);
  EXPECT_EQ(lines[kOverridden]["overrides"], json::parse(R"([
      ["Control", "C:\\Windows\\over.dll", "C:\\Users\\eve\\AppData\\Roaming\\over.dll"]])"));

  // A user hive's Software\Classes only links to the classes hive beside it.
  platform::MemoryStore ntuser;
  const auto link = ntuser.EnsurePath("ROOT\\Software\\Classes");
  const std::string target = "\\REGISTRY\\USER\\S-1-5-21-1_Classes";
  std::vector<std::byte> linkData;
  for (char c : target) linkData.insert(linkData.end(), {std::byte(c), std::byte(0)});
  ntuser.Put(link, "SymbolicLinkValue", platform::REG_LINK, linkData);
  WriteHive(folder.path() / "Users/eve/NTUSER.DAT", ntuser, "ROOT");
  const Outcome refused = Command(
      {"--json", "--user-classes", (folder.path() / "Users/eve/NTUSER.DAT").string(), volume});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find((folder.path() / "Users/eve" / local).string()), std::string::npos)
      << refused.err;

  // Eve's override cannot be read: the class counts as not read, the damaged
  // value is named on her side, and the rest is still read.
  const Outcome eve = Command({"--json", "--user", "eve", volume});
  ASSERT_EQ(eve.status, 0) << eve.err;
  lines = ByGuid(eve.out);
  EXPECT_EQ(lines[kUserOnly]["scope"], "user");
  EXPECT_FALSE(lines.contains(kOverridden));
  EXPECT_EQ(lines["summary"]["notRead"], 1);
  const json& errors = lines["summary"]["errors"];
  ASSERT_EQ(errors.size(), 2u) << errors;
  EXPECT_EQ(errors[0]["key"], kOverridden);
  EXPECT_EQ(errors[1]["key"], "Software\\Classes\\CLSID\\" + kOverridden + "\\InprocServer32");
  EXPECT_EQ(errors[1]["side"], "user");
#endif
}

TEST(AnalystCommand, BadCombinationsAndUnreadableInputs) {
  const testing::TempFolder folder;
  const std::string prefix = WritePrefix(folder).string();
  const std::string notAHive = folder.Write("broken.dat", "regf and nothing more").string();
  const std::string machineExport =
      folder
          .Write("machine.reg", "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\CLSID\\" + kUserOnly + "]\r\n")
          .string();
  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;
  } cases[] = {
      {{"--csv", "--json"}, 2, "excludes"},
      {{"--csv", "--check-files"}, 2, "excludes"},
      {{"--timeline", "--bodyfile"}, 2, "excludes"},
      {{"--missing-only"}, 2, "requires --check-files"},
      {{"--diff", prefix, "--user-classes", prefix}, 2, "excludes"},
      {{"--diff", prefix, "--find", "x"}, 2, "excludes"},
      {{"--user", "bob"}, 2, "need a SOURCE"},
      {{"--users", prefix}, 2, "Windows volume"},
      {{"--diff", "/no/such/later"}, 1, "OTHER /no/such/later cannot be read"},
      {{"--user-classes", "/no/such/user", prefix}, 1, "/no/such/user: no such file"},
      {{"--user-classes", notAHive, prefix}, 1, notAHive},
      {{"--user-classes", machineExport, prefix},
       1,
       "no HKEY_CURRENT_USER\\Software\\Classes keys"},
      {{"--test", kOverridden, "--user-classes", prefix, prefix},
       2,
       "this computer's own registry"},
      {{"--diff", prefix, "--view", "both", prefix}, 2, "one class list"},
      {{"--view", "16", prefix}, 2, "--view"},
  };
  for (const auto& c : cases) {
    const Outcome run = Command(c.args);
    EXPECT_EQ(run.status, c.status) << c.args[0] << " " << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << c.args[0];
  }
}

}  // namespace
}  // namespace orbel
