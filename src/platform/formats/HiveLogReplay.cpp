#include "platform/formats/HiveLogReplay.h"

#include <algorithm>
#include <cstring>

#include "platform/formats/BaseBlock.h"
#include "platform/formats/HiveLogDirt.h"
#include "platform/formats/HiveLogEntries.h"

namespace orbel::platform {
namespace {

constexpr std::size_t kSector = 512;
constexpr std::uint64_t kMaxHiveBytes = std::uint64_t{0xFFFFFFFF} + kBaseBlockSize;

// A log with what its first sector says.
struct Log {
  const HiveLogFile* file = nullptr;
  BaseBlock block;
  bool hasBlock = false;
  bool newFormat = false;
};

Log Classify(const HiveLogFile& file) {
  Log log;
  log.file = &file;
  const std::span<const std::byte> bytes(file.bytes);
  log.hasBlock = ParseBaseBlock(bytes, log.block);
  log.newFormat = log.hasBlock ? log.block.fileType == kNewLogFile
                               : bytes.size() >= kSector + 4 &&
                                     std::memcmp(bytes.data() + kSector, "HvLE", 4) == 0;
  return log;
}

// The state of the replay: the hive, its base block, and how far it may grow.
struct Replay {
  std::vector<std::byte>& hive;
  BaseBlock block;
  std::uint64_t limit = 0;
  HiveLogReport& report;

  // Makes room for `hiveBinsSize` bytes of hive bins data; false when that
  // is more than the logs could have brought.
  bool Grow(std::uint32_t hiveBinsSize) {
    const std::uint64_t size = kBaseBlockSize + std::uint64_t{hiveBinsSize};
    if (size > limit) return false;
    if (size > hive.size()) hive.resize(static_cast<std::size_t>(size), std::byte{0});
    return true;
  }
  void Write(const HiveLogPage& page) {
    std::memcpy(hive.data() + kBaseBlockSize + page.offset, page.bytes.data(), page.bytes.size());
  }
  void Applied(const std::string& log, std::uint32_t sequence) {
    ++report.applied;
    report.lastSequence = sequence;
    if (std::find(report.logs.begin(), report.logs.end(), log) == report.logs.end()) {
      report.logs.push_back(log);
    }
    block.primarySequence = block.secondarySequence = sequence;
  }
};

// Rebuilds a base block that fails its checksum from the soundest log copy
// (the oldest, from which the most entries apply); false when none is sound.
bool RebuildBaseBlock(Replay& replay, const std::vector<Log>& logs) {
  const Log* best = nullptr;
  for (const Log& log : logs) {
    if (log.hasBlock && log.block.checksumValid &&
        (!best || log.block.secondarySequence < best->block.secondarySequence)) {
      best = &log;
    }
  }
  if (!best) return false;
  std::memcpy(replay.hive.data(), best->file->bytes.data(), kSector);
  replay.block = best->block;
  replay.block.fileType = kPrimaryFile;
  WriteBaseBlock(replay.block, replay.hive);
  replay.report.baseBlockFrom = best->file->name;
  return true;
}

// The newest sound old-format log of the hive's last write, applied whole.
void ApplyOldLogs(Replay& replay, const std::vector<Log>& logs, std::uint64_t hiveTime) {
  const Log* best = nullptr;
  for (const Log& log : logs) {
    if (log.newFormat || !log.hasBlock) continue;
    const auto reject = [&](const char* why) {
      replay.report.rejected.push_back({log.file->name, 1, why});
    };
    if (!log.block.checksumValid) {
      reject("bad checksum");
    } else if (log.block.Unfinished()) {
      reject("incomplete");
    } else if (log.block.lastWritten != hiveTime) {
      replay.report.problems.push_back(log.file->name + ": written for another state of the hive");
    } else if (log.block.secondarySequence >= replay.block.secondarySequence &&
               (!best || log.block.secondarySequence > best->block.secondarySequence)) {
      best = &log;
    }
  }
  if (!best) return;
  const std::uint32_t clustering = best->block.clustering;
  const std::size_t sector = kSector * (clustering >= 1 && clustering <= 8 ? clustering : 1);
  std::vector<HiveLogPage> pages;
  std::string why;
  if (!ParseHiveLogDirt(best->file->bytes, best->block.hiveBinsSize, sector, pages, why)) {
    replay.report.rejected.push_back({best->file->name, 1, why});
    return;
  }
  if (!replay.Grow(best->block.hiveBinsSize)) {
    replay.report.rejected.push_back({best->file->name, 1, "outside the hive"});
    return;
  }
  for (const HiveLogPage& page : pages) replay.Write(page);
  replay.block.hiveBinsSize = best->block.hiveBinsSize;
  replay.Applied(best->file->name, best->block.secondarySequence);
}

struct Placed {
  const HiveLogEntry* entry;
  std::size_t log;
};

// The new-format entries from the hive's secondary sequence number on, in
// sequence order across the logs, while each follows the one before.
void ApplyNewLogs(Replay& replay, const std::vector<Log>& logs) {
  std::vector<std::vector<HiveLogEntry>> parsed(logs.size());
  std::vector<Placed> order;
  for (std::size_t i = 0; i < logs.size(); ++i) {
    if (!logs[i].newFormat) continue;
    HiveLogStop stop;
    parsed[i] = ParseHiveLogEntries(logs[i].file->bytes, stop);
    if (stop.index != 0)
      replay.report.rejected.push_back({logs[i].file->name, stop.index, stop.why});
    // A log's entries follow one another; one with a lower number is left
    // from the log's earlier use, one with a higher number leaves a gap.
    for (std::size_t k = 0; k < parsed[i].size(); ++k) {
      const HiveLogEntry& entry = parsed[i][k];
      if (k > 0 && entry.sequence != parsed[i][k - 1].sequence + 1) {
        if (entry.sequence > parsed[i][k - 1].sequence) {
          replay.report.rejected.push_back({logs[i].file->name, entry.index, "sequence gap"});
        }
        break;
      }
      if (entry.sequence >= replay.block.secondarySequence) order.push_back({&entry, i});
    }
  }
  std::stable_sort(order.begin(), order.end(), [](const Placed& a, const Placed& b) {
    return a.entry->sequence < b.entry->sequence;
  });
  std::optional<std::uint32_t> next;
  for (const Placed& placed : order) {
    const HiveLogEntry& entry = *placed.entry;
    const std::string& name = logs[placed.log].file->name;
    if (next && entry.sequence != *next) {
      replay.report.rejected.push_back(
          {name, entry.index, entry.sequence < *next ? "repeated sequence" : "sequence gap"});
      if (entry.sequence < *next) continue;
      break;
    }
    if (!replay.Grow(entry.hiveBinsSize)) {
      replay.report.rejected.push_back({name, entry.index, "outside the hive"});
      break;
    }
    for (const HiveLogPage& page : entry.pages) replay.Write(page);
    replay.block.hiveBinsSize = entry.hiveBinsSize;
    replay.block.flags = entry.flags;
    replay.Applied(name, entry.sequence);
    next = entry.sequence + 1;
  }
}

bool HasBin(const std::vector<std::byte>& hive) {
  return hive.size() >= kBaseBlockSize + 32 &&
         std::memcmp(hive.data() + kBaseBlockSize, "hbin", 4) == 0;
}

}  // namespace

HiveLogReport ReplayHiveLogs(std::vector<std::byte>& hive, std::span<const HiveLogFile> logs) {
  HiveLogReport report;
  Replay replay{hive, {}, 0, report};
  const bool parsed = ParseBaseBlock(hive, replay.block);
  // Without a signature, only a file whose hive bins data begins where it
  // should is taken for a hive with a damaged base block.
  if ((!parsed && !HasBin(hive)) || hive.size() < kBaseBlockSize) return report;
  report.dirty = !parsed || !replay.block.checksumValid || replay.block.Unfinished();

  std::vector<Log> classified;
  std::uint64_t limit = hive.size();
  for (const HiveLogFile& file : logs) {
    if (file.bytes.empty()) continue;  // an empty log is kept for older writers
    classified.push_back(Classify(file));
    const Log& log = classified.back();
    if (!log.hasBlock && !log.newFormat) {
      report.problems.push_back(file.name + ": not a transaction log");
      classified.pop_back();
      continue;
    }
    limit += file.bytes.size();
    if (parsed && log.hasBlock && log.block.checksumValid &&
        log.block.secondarySequence > replay.block.secondarySequence) {
      report.newerLogs = true;
    }
  }
  replay.limit = std::min(limit, kMaxHiveBytes);
  if (!report.dirty && !report.newerLogs) return report;
  if (!parsed || !replay.block.checksumValid) {
    if (!RebuildBaseBlock(replay, classified)) {
      report.problems.push_back("the base block fails its checksum and no log holds a sound copy");
      return report;
    }
  }
  // The time the hive was last written, which an old-format log must name:
  // the first hive bin keeps a copy for a base block that was rebuilt.
  const std::uint64_t hiveTime = report.baseBlockFrom.empty() || !HasBin(hive)
                                     ? replay.block.lastWritten
                                     : Le64At(hive, kBaseBlockSize + 20);
  ApplyOldLogs(replay, classified, hiveTime);
  ApplyNewLogs(replay, classified);
  if (report.applied > 0 || !report.baseBlockFrom.empty()) {
    replay.block.fileType = kPrimaryFile;
    WriteBaseBlock(replay.block, hive);
  }
  return report;
}

namespace {

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

}  // namespace

LogRecovery HiveLogReport::Summary() const {
  LogRecovery summary{applied, lastSequence, logs, {}};
  for (const auto& r : rejected) summary.rejected.push_back({r.log, r.entry, r.why});
  return summary;
}

std::string HiveLogReport::Text(std::string_view hive) const {
  std::string text;
  if (applied > 0) {
    text = "Recovered from the transaction logs: " + std::to_string(applied) +
           (applied == 1 ? " entry of " : " entries of ") + Joined(logs) +
           " applied, up to sequence " + std::to_string(lastSequence.value_or(0));
  }
  if (!baseBlockFrom.empty()) {
    text += (text.empty() ? "" : "; ") + std::string("the base block was rebuilt from ") +
            baseBlockFrom;
  }
  if (!rejected.empty()) {
    const HiveLogRejection& first = rejected.front();
    text += (text.empty() ? "" : ". ") + first.log + ": entry " + std::to_string(first.entry) +
            " rejected (" + first.why + ")";
    if (rejected.size() > 1) text += ", and " + std::to_string(rejected.size() - 1) + " more";
    text += "; the hive is shown as far as the logs are sound";
  }
  if (text.empty() && (dirty || newerLogs)) {
    text = std::string(hive) +
           (dirty ? ": its last write was not completed and no transaction logs with newer data "
                    "are beside it; the hive is read as it stands"
                  : ": its transaction logs hold nothing that applies; the hive is read as it "
                    "stands");
  }
  return text;
}

}  // namespace orbel::platform
