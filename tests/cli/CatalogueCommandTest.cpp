#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/CatalogueCommand.h"
#include "platform/computer/LocalImage.h"
#include "platform/store/MemoryStore.h"
#include "support/CompanionRun.h"
#include "support/Hivex.h"
#include "support/RegfWriter.h"
#include "support/ScopedVariable.h"
#include "support/TempFolder.h"
#include "tools/Vell_Tools.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

using testing::Command;
using testing::Outcome;

std::vector<json> Lines(const std::string& text) {
  std::vector<json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  return lines;
}

const json* EntryWithGuid(const std::vector<json>& lines, const std::string& guid) {
  for (const auto& line : lines) {
    if (line.contains("guid") && line["guid"] == guid) return &line;
  }
  return nullptr;
}

TEST(CatalogueCommand, JsonOfTheSampleListsEveryClassWithItsRows) {
  const Outcome run = Command({"--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 45u) << "44 entries and the summary";
  const json& summary = lines.back()["summary"];
  EXPECT_EQ(summary["status"], "complete");
  EXPECT_EQ(summary["classKeys"], 44);
  EXPECT_EQ(summary["entries"], 44);
  EXPECT_EQ(summary["notRead"], 0);
  EXPECT_EQ(summary["computer"], LocalComputerName());
  int total = 0;
  for (const char* kind : {"1", "2", "4", "8", "16", "2048"}) {
    ASSERT_TRUE(summary["counts"].contains(kind)) << kind;
    total += summary["counts"][kind].get<int>();
  }
  EXPECT_EQ(total, 44);
  EXPECT_TRUE(summary["errors"].empty());

  // A control whose Vell type library names it, with version 1.1.
  const json* control = EntryWithGuid(lines, "{8D4FCFAE-DF41-4D4C-ABD4-526CA0D21382}");
  ASSERT_TRUE(control);
  EXPECT_EQ((*control)["name"], "Vell Sample Controls Library 1.1");
  EXPECT_EQ((*control)["kind"], 1);
  const json& rows = (*control)["rows"];
  ASSERT_GE(rows.size(), 23u);
  EXPECT_EQ(rows[0], json::array({"Name", "Vell Sample Controls Library 1.1"}));
  EXPECT_EQ(rows[1], json::array({"Type", "ActiveX/OCX Control"}));
  EXPECT_EQ(rows[2], json::array({"GUID", "{8D4FCFAE-DF41-4D4C-ABD4-526CA0D21382}"}));
  EXPECT_EQ(rows[3][1],
            "HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{8D4FCFAE-DF41-4D4C-ABD4-526CA0D21382}\\");
  EXPECT_EQ(rows[22][0], "Misc. Settings");

  // The class key with nothing in it: every row but its identity is unknown.
  const json* empty = EntryWithGuid(lines, "{40ABB8CA-CF2C-45EC-B070-A1A627B0E731}");
  ASSERT_TRUE(empty);
  EXPECT_EQ((*empty)["kind"], 2048);
  EXPECT_EQ((*empty)["rows"].size(), 23u);
  EXPECT_EQ((*empty)["rows"][4], json::array({"Convert to", "<Unknown>"}));

  // Entries in catalogue order: sorted by name without regard to case.
  std::string previous;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    std::string name = lines[i]["name"];
    for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_LE(previous, name);
    previous = name;
  }
}

TEST(CatalogueCommand, DefaultOutputIsTheSummaryThenOneLinePerEntry) {
  const Outcome run = Command({});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("Status: OK, all available objects have been read.\n\n44 Objects displayed\n\n", 0), 0u)
      << run.out.substr(0, 200);
  EXPECT_NE(run.out.find("\nActiveX/OCX Control\t{8D4FCFAE-DF41-4D4C-ABD4-526CA0D21382}\tVell Sample "
                         "Controls Library 1.1\n"),
            std::string::npos);
  const Outcome summary = Command({"--summary"});
  EXPECT_EQ(summary.out.find("{8D4FCFAE"), std::string::npos);
  EXPECT_EQ(summary.out.rfind("Status: OK", 0), 0u);
}

TEST(CatalogueCommand, FindListsTheMatchingRowOfEachEntry) {
  const Outcome run = Command({"--find", "Vell Sample Controls Library 1.1", "--whole-value", "--match-case"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("{8D4FCFAE-DF41-4D4C-ABD4-526CA0D21382}\tVell Sample Controls Library 1.1\t"
                         "Name\tVell Sample Controls Library 1.1\n"),
            std::string::npos)
      << run.out;
  const Outcome none = Command({"--find", "no such text anywhere"});
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, "");
}

TEST(CatalogueCommand, UsageErrorsAndUnreadableSources) {
  EXPECT_EQ(Command({"--json", "--summary"}).status, 2);
  EXPECT_EQ(Command({"--whole-value"}).status, 2) << "needs --find";
  EXPECT_EQ(Command({"--bogus"}).status, 2);
  const Outcome help = Command({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
#ifdef _WIN32
  GTEST_SKIP() << "on Windows the command line takes a POSIX absolute path for a /option";
#endif
  const Outcome missing = Command({"/no/such/registry"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("/no/such/registry: no such file or folder"), std::string::npos)
      << missing.err;
  EXPECT_EQ(missing.out, "");
}

// --test on a connected image never runs anything of it: the test fails
// with the window's message; a class that is not there is a usage error.
TEST(CatalogueCommand, TestOfAnImageFailsAndOfAnUnknownClassIsAUsageError) {
  const std::string guid = "{0b292a0e-518a-42fc-a677-3bed9cdd5315}";
  const Outcome image = Command({"--test", guid, ORBEL_SAMPLE_REGISTRY});
  EXPECT_EQ(image.status, 1) << image.err;
  EXPECT_EQ(image.out,
            "Vell Orbel was unable to create the object 'Northwind.Document'.\n\nNote: This does "
            "not automatically mean that this object is corrupt! Some objects simply can't be "
            "tested with Vell Orbel.\n");
  const Outcome unknown = Command({"--test", "{00000000-0000-0000-0000-00000000DEAD}"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("no class {00000000-0000-0000-0000-00000000DEAD}"), std::string::npos)
      << unknown.err;
  EXPECT_EQ(Command({"--test", guid, "--json"}).status, 2);
}

#ifndef _WIN32
// SOURCE is a path, so a bare name is a file of the current folder; a name
// after backslashes is a computer's, refused off Windows.
TEST(CatalogueCommand, ABareSourceIsAFileOfTheCurrentFolder) {
  const fs::path before = fs::current_path();
  fs::current_path(fs::path(ORBEL_SAMPLE_REGISTRY).parent_path());
  const Outcome bare = Command({"--summary", "system.reg"});
  const Outcome computer = Command({"--summary", "\\\\system.reg"});
  fs::current_path(before);
  EXPECT_EQ(bare.status, 0) << bare.err;
  EXPECT_EQ(computer.status, 1);
  EXPECT_NE(computer.err.find("off Windows another computer is read from its image"),
            std::string::npos)
      << computer.err;
}
#endif

// This computer's Wine prefix named as an image: a class the prefix could
// create is still not run, since an image is never executed.
TEST(CatalogueCommand, TestOfThisComputersPrefixNamedAsAnImageDoesNotRun) {
#if defined(_WIN32) || !defined(ORBEL_TEST_OBJECT_HELPER)
  GTEST_SKIP() << "needs the object helper and Wine";
#else
  const char* prefix = std::getenv("ORBEL_TEST_WINEPREFIX");
  if (!prefix || !*prefix) GTEST_SKIP() << "ORBEL_TEST_WINEPREFIX is not set";
  testing::ScopedVariable thisComputer("WINEPREFIX", prefix);
  testing::ScopedVariable helper("ORBEL_OBJECT_HELPER", ORBEL_TEST_OBJECT_HELPER);
  const std::string dictionary = "{EE09B103-97E0-11CF-978F-00A02463E06F}";
  const Outcome image = Command({"--test", dictionary, prefix});
  EXPECT_EQ(image.status, 1) << image.out << image.err;
  EXPECT_NE(image.out.find("unable to create the object 'Scripting.Dictionary'"), std::string::npos)
      << image.out;
#endif
}

// Lines of a text registry that cannot be read are damage: the reading is not
// complete and its errors count and name them (they were dropped unseen).
TEST(CatalogueCommand, SkippedLinesOfATextRegistryAreDamage) {
  const std::string header = "REGEDIT4\n\n";
  const std::string one = "[HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000001}]\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : header + one + "@=\"x\"\n") utf16 += std::string{c, '\0'};
  const struct {
    const char* name;
    std::string text;
    int entries;
    const char* message;  // nullptr: a complete reading
  } cases[] = {
      {"clean", header + one + "@=\"x\"\n", 1, nullptr},
      {"no bracket", header + one.substr(0, one.size() - 2) + "\n@=\"x\"\n", 0,
       "1 line could not be read and was skipped (line 3: key name without closing ']')"},
      {"bad hex", header + one + "@=hex:4g\n", 1, "(line 4: bad hex byte '4g')"},
      {"open string", header + one + "\"a\"=\"b\n", 1, "(line 4: unterminated string)"},
      {"odd UTF-16", utf16 + "X", 1, "the file ends in half a UTF-16 character"},
      // Kept only to its first 64 KiB, so that the file costs what its text holds.
      {"a megabyte of zeros", header + one + "@=\"x\"\n" + std::string(1 << 20, '\0'), 1,
       "(line 5: unrecognised line '??"},
  };
  testing::TempFolder folder;
  for (const auto& c : cases) {
    const fs::path file = folder.Write(std::string(c.name) + ".reg", c.text);
    const Outcome run = Command({"--json", file.string()});
    ASSERT_EQ(run.status, 0) << c.name << run.err;
    const json summary = Lines(run.out).back()["summary"];
    EXPECT_EQ(summary["entries"], c.entries) << c.name;
    EXPECT_EQ(summary["status"], c.message ? "denied" : "complete") << c.name;
    if (c.message) {
      ASSERT_EQ(summary["errors"].size(), 1u) << c.name;
      EXPECT_NE(summary["errors"][0]["message"].get<std::string>().find(c.message),
                std::string::npos)
          << c.name << ": " << summary["errors"][0]["message"];
    }
  }
}

// A hive is read as its transaction logs bring it unless --no-logs; the
// summary says what they gave.
TEST(CatalogueCommand, ReadsACorpusHive) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  const fs::path real = fs::path(ORBEL_CORPUS_DIR) / "real";
  if (!fs::exists(real)) GTEST_SKIP() << "no corpus at " << real;
  const struct {
    const char* file;
    std::vector<std::string> options;
    int classKeys, applied;
    std::string notice;
  } cases[] = {
      {"win10_UsrClass.dat",
       {},
       29,
       0,
       "win10_UsrClass.dat: its last write was not completed and no transaction logs with newer "
       "data are beside it; the hive is read as it stands"},
      {"regipy_UsrClass.dat",
       {},
       20,
       14,
       "Recovered from the transaction logs: 14 entries of regipy_UsrClass.dat.LOG1 and "
       "regipy_UsrClass.dat.LOG2 applied, up to sequence 300"},
      {"regipy_UsrClass.dat",
       {"--no-logs"},
       20,
       0,
       "regipy_UsrClass.dat: its transaction logs hold newer data, which is not applied; the hive "
       "is read as it stands"},
  };
  for (const auto& c : cases) {
    const fs::path hive = real / c.file;
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--json", hive.string()});
    const Outcome run = Command(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const auto lines = Lines(run.out);
    const json& summary = lines.back()["summary"];
    EXPECT_EQ(summary["classKeys"], c.classKeys) << c.file;
    EXPECT_EQ(summary["entries"].get<int>() + summary["notRead"].get<int>(), c.classKeys);
    EXPECT_EQ(summary["computer"], hive.string());
    EXPECT_EQ(summary["recovery"]["applied"], c.applied) << c.file;
    EXPECT_EQ(summary["notice"], c.notice) << c.file;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
      EXPECT_EQ(lines[i]["rows"][3][1].get<std::string>().rfind(
                    "<Unknown>\\Software\\Classes\\CLSID\\", 0),
                0u)
          << "another machine's root has no local name";
    }
  }
  // Not a hive: no recovery; a hive as the user's classes is replayed too.
  const Outcome sample = Command(
      {"--json", "--user-classes", (real / "regipy_UsrClass.dat").string(), ORBEL_SAMPLE_REGISTRY});
  ASSERT_EQ(sample.status, 0) << sample.err;
  const json summary = Lines(sample.out).back()["summary"];
  EXPECT_TRUE(summary["recovery"].is_null()) << sample.out;
  EXPECT_EQ(summary["userRecovery"]["applied"], 14) << sample.out;
}

TEST(CatalogueCommand, SurvivesEveryDamagedHive) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  const fs::path damaged = fs::path(ORBEL_CORPUS_DIR) / "damaged";
  if (!fs::exists(damaged)) GTEST_SKIP() << "no corpus at " << damaged;
  for (const auto& entry : fs::directory_iterator(damaged)) {
    const Outcome run = Command({"--json", entry.path().string()});
    EXPECT_TRUE(run.status == 0 || run.status == 1) << entry.path();
    if (run.status == 1) {
      EXPECT_FALSE(run.err.empty()) << entry.path();
    }
  }
}

void Save(const fs::path& file, const std::vector<std::byte>& bytes) {
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// A classes hive whose CLSID key lists three class keys through a list that
// points outside the file, with a transaction log beside it holding newer
// data. The damaged list used to read as an empty, complete catalogue.
TEST(CatalogueCommand, ADamagedClassListIsReportedAsNotRead) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  platform::MemoryStore tree;
  for (const char* guid : {"{1}", "{2}", "{3}"}) {
    tree.PutString(tree.EnsurePath(std::string("CLSID\\") + guid), "", "class");
  }
  std::vector<std::byte> hive = platform::WriteRegfHive(tree, tree.RootNode());
  // The CLSID key cell: its name at 0x50, "nk" at 4; its subkey list at 0x20.
  const std::string_view name = "CLSID";
  const std::string_view bytes(reinterpret_cast<const char*>(hive.data()), hive.size());
  std::size_t cell = std::string_view::npos;
  for (std::size_t at = bytes.find(name); at != std::string_view::npos;
       at = bytes.find(name, at + 1)) {
    if (at >= 0x50 && bytes.substr(at - 0x50 + 4, 2) == "nk") cell = at - 0x50;
  }
  ASSERT_NE(cell, std::string_view::npos);
  const std::byte outside[] = {std::byte{0xF0}, std::byte{0xFF}, std::byte{0xFF}, std::byte{0x7F}};
  std::copy(std::begin(outside), std::end(outside),
            hive.begin() + static_cast<std::ptrdiff_t>(cell + 0x20));
  platform::SetSequenceNumbers(hive, 5, 5);
  std::vector<std::byte> log(hive.begin(), hive.begin() + 512);
  platform::SetSequenceNumbers(log, 9, 9);
  testing::TempFolder folder;
  const fs::path file = folder.path() / "UsrClass.dat";
  Save(file, hive);
  Save(folder.path() / "UsrClass.dat.LOG1", log);
  // The "log" is a copy of the hive's first sector: replayed, it is
  // rejected; read as stored, the hive says its logs are newer.
  for (const bool applied : {true, false}) {
    const std::string notice =
        applied
            ? "UsrClass.dat.LOG1: entry 1 rejected (bad dirty vector); the hive is shown as far "
              "as the logs are sound"
            : "UsrClass.dat: its transaction logs hold newer data, which is not applied; the "
              "hive is read as it stands";
    const auto with = [applied](std::vector<std::string> args) {
      if (!applied) args.insert(args.begin(), "--no-logs");
      return args;
    };

    const Outcome run = Command(with({"--json", file.string()}));
    ASSERT_EQ(run.status, 0) << run.err;
    const json summary = Lines(run.out).back()["summary"];
    EXPECT_EQ(summary["status"], "denied");
    EXPECT_EQ(summary["classKeys"], 3);
    EXPECT_EQ(summary["notRead"], 3);
    EXPECT_EQ(summary["errors"], json::parse(R"([{"key":"Software\\Classes\\CLSID",)"
                                             R"("message":"3 class keys could not be listed"}])"));
    EXPECT_EQ(summary["notice"], notice);

    const Outcome text = Command(with({"--summary", file.string()}));
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(
        text.out.rfind("Status: The computer has denid the access to 3 objects.\n\n0 Objects", 0),
        0u)
        << text.out;
    EXPECT_NE(text.out.find("\n" + notice + "\n"), std::string::npos) << text.out;
  }
}

}  // namespace
}  // namespace orbel

namespace orbel {
namespace {

// The offset of the cell whose name `name` is stored at `nameAt` within it,
// of the kind `kind` ("nk" or "vk"); npos when there is none.
std::size_t CellNamed(const std::vector<std::byte>& hive, std::string_view name,
                      std::string_view kind, std::size_t nameAt) {
  const std::string_view bytes(reinterpret_cast<const char*>(hive.data()), hive.size());
  for (std::size_t at = bytes.find(name); at != std::string_view::npos;
       at = bytes.find(name, at + 1)) {
    if (at >= nameAt && bytes.substr(at - nameAt + 4, 2) == kind) return at - nameAt;
  }
  return std::string_view::npos;
}

void Put32(std::vector<std::byte>& hive, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) hive[at + i] = static_cast<std::byte>(value >> (8 * i));
}

// Damage a hive reader used to read as complete, or to read at any cost.
TEST(CatalogueCommand, HiveDamageIsCountedAndNamed) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  struct Case {
    const char* what;
    std::vector<std::string> classes;  // class keys under CLSID
    std::function<void(std::vector<std::byte>&)> damage;
    int status;  // of the command
    const char* readingStatus;
    int classKeys, notRead;
    const char* errors;  // the summary's errors, as JSON
    const char* notice;  // the summary's notice, or the error when the status is 1
  };
  const auto unkeyed = [](std::string_view name, std::string_view kind, std::size_t nameAt) {
    return [=](std::vector<std::byte>& hive) {
      const std::size_t cell = CellNamed(hive, name, kind, nameAt);
      ASSERT_NE(cell, std::string_view::npos) << name;
      hive[cell + 4] = std::byte{'x'};
    };
  };
  const Case cases[] = {
      {"a class key that is no key cell",
       {"{1}", "{2}", "{3}"},
       unkeyed("{2}", "nk", 0x50),
       0,
       "denied",
       3,
       1,
       R"([{"key":"Software\\Classes\\CLSID","message":"1 class keys could not be listed"}])",
       ""},
      {"a value that is no value cell",
       {"{1}", "{2}"},
       unkeyed("ThreadingModel", "vk", 24),
       0,
       "denied",
       2,
       1,
       R"([{"key":"{1}","message":"Failed to get data for 'ThreadingModel'"}])",
       ""},
      {"a class key name holding a NUL",
       {"{1}", std::string("ab\0cd", 5)},
       nullptr,
       0,
       "denied",
       2,
       1,
       R"([{"key":"ab\\x00cd","message":"the key could not be opened: its name holds a NUL"}])",
       ""},
      {"a file shorter than its header says",
       {"{1}"},
       [](std::vector<std::byte>& hive) {
         Put32(hive, 40, static_cast<std::uint32_t>(hive.size() - 4096 + 8192));
         platform::SetSequenceNumbers(hive, 1, 1);
       },
       0,
       "denied",
       1,
       0,
       R"([{"key":"","message":"UsrClass.dat: the file holds 8192 bytes less than its header says; the hive is read as far as it goes"}])",
       ""},
      {"a header giving no plausible size",
       {"{1}"},
       [](std::vector<std::byte>& hive) {
         Put32(hive, 40, 4095);
         platform::SetSequenceNumbers(hive, 1, 1);
       },
       1,
       "",
       0,
       0,
       "",
       "not a registry hive (its header gives a hive size of 4095 bytes, not a whole number of "
       "pages)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::MemoryStore tree;
    for (const std::string& guid : c.classes) {
      const auto key = tree.EnsurePath("CLSID\\" + guid);
      tree.PutString(key, "", "class");
      const auto server = tree.EnsureChild(key, "InprocServer32");
      tree.PutString(server, "", "server.dll");
      tree.PutString(server, "ThreadingModel", "Both");
    }
    std::vector<std::byte> hive = platform::WriteRegfHive(tree, tree.RootNode());
    if (c.damage) c.damage(hive);
    testing::TempFolder folder;
    const fs::path file = folder.path() / "UsrClass.dat";
    Save(file, hive);
    const Outcome run = Command({"--json", file.string()});
    ASSERT_EQ(run.status, c.status) << run.err;
    if (c.status != 0) {
      EXPECT_NE(run.err.find(file.string() + ": " + c.notice), std::string::npos) << run.err;
      continue;
    }
    const json summary = Lines(run.out).back()["summary"];
    EXPECT_EQ(summary["status"], std::string(c.readingStatus));
    EXPECT_EQ(summary["classKeys"], c.classKeys);
    EXPECT_EQ(summary["notRead"], c.notRead);
    EXPECT_EQ(summary["errors"], json::parse(c.errors));
    EXPECT_EQ(summary["notice"], std::string(c.notice));
  }
}

// Class keys that all name one large subkey list made the reading decode it
// once for each of them; what a reading decodes is bounded by the file.
TEST(CatalogueCommand, ASubkeyListSharedByEveryClassIsDamage) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  platform::MemoryStore tree;
  for (int i = 0; i < 200; ++i) {
    const auto key = tree.EnsurePath("CLSID\\{c" + std::to_string(1000 + i) + "}");
    tree.PutString(tree.EnsureChild(key, "sub"), "", "x");
  }
  const auto big = tree.EnsurePath("Big");
  for (int i = 0; i < 5000; ++i) tree.EnsureChild(big, "k" + std::to_string(i));
  std::vector<std::byte> hive = platform::WriteRegfHive(tree, tree.RootNode());
  const std::size_t bigCell = CellNamed(hive, "Big", "nk", 0x50);
  ASSERT_NE(bigCell, std::string_view::npos);
  std::uint32_t list = 0;
  for (int i = 3; i >= 0; --i) list = (list << 8) | std::to_integer<std::uint32_t>(hive[bigCell + 0x20 + i]);
  for (int i = 0; i < 200; ++i) {
    const std::size_t cell = CellNamed(hive, "{c" + std::to_string(1000 + i) + "}", "nk", 0x50);
    ASSERT_NE(cell, std::string_view::npos) << i;
    Put32(hive, cell + 0x18, 5000);  // the subkey count
    Put32(hive, cell + 0x20, list);   // and the list: Big's
  }
  testing::TempFolder folder;
  const fs::path file = folder.path() / "UsrClass.dat";
  Save(file, hive);
  const Outcome run = Command({"--json", file.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const json summary = Lines(run.out).back()["summary"];
  EXPECT_EQ(summary["status"], "denied");
  EXPECT_NE(summary["errors"].dump().find("the hive names the same cells over and over"),
            std::string::npos)
      << summary["errors"];
}

// A class list whose key counts more subkeys than the file can hold lost its
// classes to the refusal of that count; they are kept, the rest reported.
TEST(CatalogueCommand, AnImplausibleClassCountKeepsTheClassesListed) {
  ORBEL_SKIP_WITHOUT_HIVEX();
  platform::MemoryStore tree;
  for (const char* guid : {"{1}", "{2}"}) tree.PutString(tree.EnsurePath(std::string("CLSID\\") + guid), "", "class");
  std::vector<std::byte> hive = platform::WriteRegfHive(tree, tree.RootNode());
  const std::size_t cell = CellNamed(hive, "CLSID", "nk", 0x50);
  ASSERT_NE(cell, std::string_view::npos);
  Put32(hive, cell + 0x18, 5000);  // the key's subkey count, beyond what 8 KB can hold
  testing::TempFolder folder;
  const fs::path file = folder.path() / "UsrClass.dat";
  Save(file, hive);
  const Outcome run = Command({"--json", file.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const json summary = Lines(run.out).back()["summary"];
  EXPECT_EQ(summary["entries"], 2);
  EXPECT_EQ(summary["status"], "denied");
  ASSERT_EQ(summary["errors"].size(), 1u) << summary;
  EXPECT_NE(summary["errors"][0]["message"].get<std::string>().find("class keys could not be listed"),
            std::string::npos)
      << summary;
}

}  // namespace
}  // namespace orbel
