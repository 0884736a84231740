#include "cli/RecoveredHive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <vector>

#include "cli/JsonOutput.h"
#include "platform/base/SafeFile.h"
#include "platform/formats/BaseBlock.h"
#include "platform/formats/HiveLogFiles.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;
using platform::BaseBlock;

// The format counts a hive's size in 32 bits.
constexpr std::uint64_t kMaxHiveBytes = std::uint64_t{0xFFFFFFFF} + platform::kBaseBlockSize;

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Whether `out` names `file`, by its path or (when both exist) as the same
// file under another name.
bool Names(const fs::path& out, const fs::path& file) {
  std::error_code ec, ec2;
  const fs::path a = fs::weakly_canonical(fs::absolute(out, ec), ec);
  const fs::path b = fs::weakly_canonical(fs::absolute(file, ec2), ec2);
  if (!ec && !ec2 && a == b) return true;
  return fs::equivalent(out, file, ec) && !ec;
}

// Whether `out` would lie beside `source` under the name of one of its logs
// (NAME.LOG, .LOG1, .LOG2 in any case), where it would be taken for one.
bool LogName(const fs::path& out, const fs::path& source) {
  std::error_code ec, ec2;
  const fs::path a = fs::weakly_canonical(fs::absolute(out, ec), ec);
  const fs::path b = fs::weakly_canonical(fs::absolute(source, ec2), ec2);
  if (ec || ec2 || a.parent_path() != b.parent_path()) return false;
  const auto lower = [](std::string text) {
    for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return text;
  };
  const std::string name = lower(Utf8(a.filename())), hive = lower(Utf8(b.filename()));
  return name == hive + ".log" || name == hive + ".log1" || name == hive + ".log2";
}

// Creates `file`, which must not exist, and writes `bytes` to it; the reason
// when it cannot (a file left half written is removed).
std::string WriteNew(const fs::path& file, const std::vector<std::byte>& bytes) {
#ifdef _WIN32
  const int fd =
      ::_wopen(file.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
  const int fd = ::open(file.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOCTTY, 0644);
#endif
  if (fd < 0) return std::strerror(errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t chunk = std::min<std::size_t>(bytes.size() - done, 1u << 24);
    const auto written = ::write(fd, bytes.data() + done, static_cast<unsigned>(chunk));
    if (written <= 0) break;
    done += static_cast<std::size_t>(written);
  }
  const std::string why = done < bytes.size() ? std::strerror(errno) : "";
  if (::close(fd) != 0 || !why.empty()) {
    std::error_code ec;
    fs::remove(file, ec);
    return why.empty() ? std::string("cannot be written") : why;
  }
  return {};
}

// Makes the base block of `hive` say a finished write: one sequence number
// twice, the file type of a hive, a fresh checksum. false when it has none.
bool MakeConsistent(std::vector<std::byte>& hive) {
  BaseBlock block;
  if (hive.size() < platform::kBaseBlockSize || !platform::ParseBaseBlock(hive, block))
    return false;
  block.secondarySequence = block.primarySequence =
      std::max(block.primarySequence, block.secondarySequence);
  block.fileType = platform::kPrimaryFile;
  return platform::WriteBaseBlock(block, hive);
}

}  // namespace

int RunRecoveredHive(const CatalogueOptions& options, std::ostream& out, std::ostream& err) {
  if (!options.source) return ReportUsage(err, "--recovered-hive needs SOURCE, the hive to read");
  const fs::path source = *options.source;
  const fs::path target = *options.recoveredHive;
  const std::vector<fs::path> logs = platform::FindHiveLogs(source);
  for (const fs::path& file : logs) {
    if (Names(target, file)) return ReportUsage(err, Utf8(target) + " is a log of SOURCE");
  }
  if (LogName(target, source)) {
    return ReportUsage(err, Utf8(target) + " is named as a log of SOURCE");
  }
  if (Names(target, source)) return ReportUsage(err, Utf8(target) + " is SOURCE itself");
  std::error_code ec;
  if (fs::symlink_status(target, ec).type() != fs::file_type::not_found) {
    return ReportUsage(err, Utf8(target) + " already exists");
  }

  std::vector<std::byte> hive;
  std::string why;
  if (!platform::ReadRegularFile(source, kMaxHiveBytes, hive, why)) {
    return ReportFailure(err, Utf8(source) + ": " + why);
  }
  const std::string name = Utf8(source.filename());
  const platform::HiveLogReport report = platform::RecoverHive(source, hive);
  for (const std::string& problem : report.problems) err << "orbel-catalogue: " << problem << "\n";
  if (hive.size() < platform::kBaseBlockSize + 32 || !MakeConsistent(hive) ||
      std::memcmp(hive.data() + platform::kBaseBlockSize, "hbin", 4) != 0) {
    return ReportFailure(err, Utf8(source) + ": not a registry hive");
  }
  if (std::string failed = WriteNew(target, hive); !failed.empty()) {
    return ReportFailure(err, Utf8(target) + ": " + failed);
  }
  if (options.asJson) {
    out << json{{"recovery", RecoveryJson(report.Summary())}}.dump() << "\n";
    return 0;
  }
  std::string text = report.Text(name);
  if (text.empty()) text = name + ": its transaction logs hold nothing to apply";
  out << text << "; written to " << Utf8(target) << "\n";
  return 0;
}

}  // namespace orbel
