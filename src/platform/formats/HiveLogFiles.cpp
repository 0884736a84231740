#include "platform/formats/HiveLogFiles.h"

#include <algorithm>
#include <array>
#include <string>
#include <system_error>

#include "platform/base/SafeFile.h"
#include "platform/formats/BaseBlock.h"

namespace orbel::platform {
namespace {

// Folders with more entries than this are not searched to the end: a hive's
// folder holds its few files.
constexpr std::size_t kMaxFolderEntries = 100000;

template <typename Char>
Char AsciiLower(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c - 'A' + 'a') : c;
}

bool SameIgnoringAsciiCase(const std::filesystem::path::string_type& a,
                           const std::filesystem::path::string_type& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](auto x, auto y) {
           return AsciiLower(x) == AsciiLower(y);
         });
}

// The file's name as UTF-8, for the report.
std::string Shown(const std::filesystem::path& file) {
  const std::u8string name = file.filename().u8string();
  return std::string(name.begin(), name.end());
}

// Whether a log's first sector is a sound base block newer than the hive's.
bool Newer(const std::vector<std::byte>& head, const BaseBlock& hive) {
  BaseBlock block;
  return ParseBaseBlock(head, block) && block.checksumValid &&
         block.secondarySequence > hive.secondarySequence;
}

}  // namespace

std::vector<std::filesystem::path> FindHiveLogs(const std::filesystem::path& hive) {
  std::array<std::filesystem::path, 3> wanted;
  const char* const suffixes[] = {".LOG", ".LOG1", ".LOG2"};
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    wanted[i] = hive.filename();
    wanted[i] += suffixes[i];
  }
  std::array<std::filesystem::path, 3> found;
  const std::filesystem::path folder = hive.has_parent_path() ? hive.parent_path() : ".";
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec), end;
  for (std::size_t seen = 0; !ec && it != end && seen < kMaxFolderEntries;
       it.increment(ec), ++seen) {
    const std::filesystem::path name = it->path().filename();
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      if (SameIgnoringAsciiCase(name.native(), wanted[i].native()) &&
          (found[i].empty() || name == wanted[i])) {
        found[i] = it->path();
      }
    }
  }
  std::vector<std::filesystem::path> logs;
  for (auto& log : found) {
    if (!log.empty()) logs.push_back(std::move(log));
  }
  return logs;
}

std::uint64_t MaxHiveLogSize(std::uint64_t hiveSize) {
  constexpr std::uint64_t kFloor = 16u << 20;
  constexpr std::uint64_t kCeiling = std::uint64_t{1} << 34;
  return std::clamp(hiveSize * 4, kFloor, kCeiling);
}

bool HiveLogsMayApply(const std::filesystem::path& hiveFile, const std::vector<std::byte>& head) {
  BaseBlock block;
  if (!ParseBaseBlock(head, block) || !block.checksumValid || block.Unfinished()) return true;
  for (const auto& path : FindHiveLogs(hiveFile)) {
    std::vector<std::byte> logHead;
    std::string why;
    if (ReadRegularFileHead(path, kBaseBlockHead, logHead, why) && Newer(logHead, block)) {
      return true;
    }
  }
  return false;
}

HiveLogReport RecoverHive(const std::filesystem::path& hiveFile, std::vector<std::byte>& hive) {
  BaseBlock block;
  const bool clean = ParseBaseBlock(hive, block) && block.checksumValid && !block.Unfinished();
  const std::vector<std::filesystem::path> paths = FindHiveLogs(hiveFile);
  std::vector<std::string> problems;
  std::vector<HiveLogFile> logs;
  std::vector<std::filesystem::path> read;  // the file of each of `logs`
  bool needed = !clean;
  for (const auto& path : paths) {
    HiveLogFile log{Shown(path), {}};
    std::string why;
    if (!ReadRegularFileHead(path, kBaseBlockHead, log.bytes, why)) {
      problems.push_back(log.name + ": " + why);
      continue;
    }
    needed = needed || Newer(log.bytes, block);
    logs.push_back(std::move(log));
    read.push_back(path);
  }
  if (needed) {
    for (std::size_t i = logs.size(); i-- > 0;) {
      std::string why;
      if (!ReadRegularFile(read[i], MaxHiveLogSize(hive.size()), logs[i].bytes, why)) {
        problems.push_back(logs[i].name + ": " + why);
        logs.erase(logs.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
  }
  HiveLogReport report = needed ? ReplayHiveLogs(hive, logs) : HiveLogReport{};
  report.problems.insert(report.problems.begin(), problems.begin(), problems.end());
  return report;
}

}  // namespace orbel::platform
