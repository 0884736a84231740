// The companion's outputs for other tools: CSV for spreadsheets, the key
// times for timeline tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>

#include "platform/base/Text.h"
#include "support/CompanionRun.h"
#include "support/TempFolder.h"

namespace orbel {
namespace {

using nlohmann::json;
using testing::Command;
using testing::Outcome;

const std::string kHeader = "WINE REGISTRY Version 2\n#arch=win64\n";

// A key of a Wine file below Software\Classes; `time` empty for a key
// without a stamp.
std::string WineKey(const std::string& path, const std::string& time, const std::string& values) {
  std::string escaped;
  for (char c : path) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return "\n[Software\\\\Classes\\\\" + escaped + "]" + (time.empty() ? "" : " " + time) + "\n" +
         values + "\n";
}

std::string Guid(int n) { return "{B0000000-0000-4000-8000-00000000000" + std::to_string(n) + "}"; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(PipelineOutput, CsvKeepsFormulasAsTextNamesEachColumnOnceAndReportsErrors) {
  // The class name as the Wine file writes it, and the cell CSV gives it.
  const struct {
    std::string written, cell;
  } cases[] = {
      {"=1+2", "\"'=1+2\""},
      {"+1", "\"'+1\""},
      {"-1", "\"'-1\""},
      {"@SUM(A1)", "\"'@SUM(A1)\""},
      {"\\tx", "\"'\tx\""},
      {"\\rx", "\"'\rx\""},
      {"a=b, \\\"c\\\"", "\"a=b, \"\"c\"\"\""},
      {"plain", "plain"},
  };
  const testing::TempFolder folder;
  std::string system = kHeader;
  int n = 0;
  for (const auto& c : cases)
    system += WineKey("CLSID\\" + Guid(n++), "1700000000", "@=\"" + c.written + "\"");
  // A class name that is no string stops the reading of its class key.
  const std::string broken = Guid(n);
  system += WineKey("CLSID\\" + broken, "1700000000", "@=dword:00000001");
  folder.Write("prefix/system.reg", system);

  const Outcome run = Command({"--csv", (folder.path() / "prefix").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(broken), std::string::npos) << run.err;
  n = 0;
  for (const auto& c : cases) {
    EXPECT_NE(run.out.find("," + Guid(n++) + "," + c.cell + ","), std::string::npos)
        << c.written << "\n"
        << run.out;
  }
  // Every class has a scope, the machine's without a user's classes.
  std::size_t rows = 0;
  for (std::size_t at = 0; (at = run.out.find(",machine\r\n", at)) != std::string::npos; ++at) {
    ++rows;
  }
  EXPECT_EQ(rows, std::size(cases));

  const std::string header = run.out.substr(0, run.out.find("\r\n"));
  std::set<std::string> names;
  std::istringstream columns(header);
  for (std::string name; std::getline(columns, name, ',');) {
    EXPECT_TRUE(names.insert(platform::FoldCase(name)).second) << name << " twice in " << header;
  }
  EXPECT_TRUE(header.ends_with(",view,treatAs,scope")) << header;
}

TEST(PipelineOutput, KeyTimesAsTimesketchLinesAndBodyLines) {
  const testing::TempFolder folder;
  const std::string c = Guid(1);
  folder.Write("prefix/system.reg",
               kHeader + WineKey("CLSID\\" + c, "1700000000", "@=\"Pipe|50%\\n\"") +
                   WineKey("CLSID\\" + c + "\\InprocServer32", "1700000100", "@=\"a.dll\"") +
                   // No stamp: no event.
                   WineKey("CLSID\\" + c + "\\LocalServer32", "", "@=\"a.exe\"") +
                   // Not a key that says what the class runs.
                   WineKey("CLSID\\" + c + "\\DefaultIcon", "1700000300", "@=\"a.dll,1\""));
  folder.Write(
      "prefix/user.reg",
      kHeader + WineKey("CLSID\\" + c + "\\InprocServer32", "1700000200", "@=\"b.dll\"") +
          WineKey("Wow6432Node\\CLSID\\" + c + "\\InprocServer32", "1700000400", "@=\"b.dll\""));
  const std::string prefix = (folder.path() / "prefix").string();

  const Outcome run = Command({"--timeline", "--view", "both", "--user-classes", prefix, prefix});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string machine = "HKEY_LOCAL_MACHINE\\Software\\Classes\\";
  const std::string user = "HKEY_CURRENT_USER\\Software\\Classes\\";
  using Event = std::tuple<std::string, std::string, std::string, std::string>;
  const std::vector<Event> expected = {
      {"machine", "64", machine + "CLSID\\" + c, "2023-11-14T22:13:20+00:00"},
      {"user", "64", user + "CLSID\\" + c + "\\InprocServer32", "2023-11-14T22:16:40+00:00"},
      {"machine", "64", machine + "CLSID\\" + c + "\\InprocServer32", "2023-11-14T22:15:00+00:00"},
      {"user", "32", user + "Wow6432Node\\CLSID\\" + c + "\\InprocServer32",
       "2023-11-14T22:20:00+00:00"},
  };
  std::vector<Event> events;
  const std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\+00:00)");
  for (const std::string& line : Lines(run.out)) {
    const json event = json::parse(line);
    for (const char* field : {"message", "datetime", "timestamp_desc"}) {
      ASSERT_TRUE(event.contains(field) && event[field].is_string()) << field << " in " << line;
    }
    EXPECT_TRUE(std::regex_match(event["datetime"].get<std::string>(), iso)) << line;
    EXPECT_EQ(event["guid"], c);
    events.emplace_back(event["scope"], event["view"], event["path"], event["datetime"]);
  }
  EXPECT_EQ(events, expected) << run.out;

  // The machine alone in the body format: a name with '|', '%' and a line
  // break stays one field of one line.
  const Outcome body = Command({"--bodyfile", prefix});
  ASSERT_EQ(body.status, 0) << body.err;
  const auto lines = Lines(body.out);
  ASSERT_EQ(lines.size(), 2u) << body.out;
  std::vector<std::string> fields;
  std::istringstream in(lines[0]);
  for (std::string field; std::getline(in, field, '|');) fields.push_back(field);
  const std::vector<std::string> want = {
      "0",          machine + "CLSID\\" + c + " [machine, 64-bit] Pipe%7C50%25%0A",
      "0",          "0",
      "0",          "0",
      "0",          "0",
      "1700000000", "0",
      "0"};
  EXPECT_EQ(fields, want) << lines[0];
}

}  // namespace
}  // namespace orbel
