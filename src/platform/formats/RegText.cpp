#include "platform/formats/RegText.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/base/SafeFile.h"
#include "platform/base/Text.h"
#include "platform/formats/RegTextEncoding.h"
#include "platform/formats/RegTextLines.h"
#include "platform/formats/RegTextSections.h"

namespace orbel::platform {

using namespace regtext;

namespace {

namespace fs = std::filesystem;

constexpr std::uintmax_t kMaxFileSize = std::uintmax_t{1} << 30;
constexpr std::size_t kWrapColumn = 80;
constexpr std::size_t kSniffBytes = 4096;
// Text holds no long runs of zero bytes: past this much, a run is damage
// (a block of a damaged volume, a sparse file) and the rest of it is not
// kept, so that such a file costs what its text holds.
constexpr std::size_t kZeroRunKept = std::size_t{64} << 10;

#ifndef _WIN32
// Reads the whole of `file` into `out`, dropping each run of zero bytes past
// its first kZeroRunKept bytes, and skipping a sparse file's holes without
// reading them. The header is checked first (`headerOk` on its first bytes),
// so that a file that is no registry is not read whole. false with `error`
// set when the file cannot be read or what it holds is larger than `maxSize`.
bool ReadTextFile(const fs::path& file, std::uint64_t maxSize, std::vector<std::byte>& out,
                  std::string& error) {
  std::uint64_t size = 0;
  const int fd = OpenRegularFile(file, size, error);
  if (fd < 0) return false;
  std::vector<std::byte> chunk(std::size_t{1} << 20);
  std::size_t zeros = 0;  // the length of the run of zeros that ends `out`, at most one past kept
  // Adds `count` zeros read from a hole, as far as the run keeps them.
  const auto holeOf = [&](std::uint64_t count) {
    const std::size_t room = zeros < kZeroRunKept ? kZeroRunKept - zeros : 0;
    out.insert(out.end(), static_cast<std::size_t>(std::min<std::uint64_t>(count, room)),
               std::byte{0});
    zeros += static_cast<std::size_t>(std::min<std::uint64_t>(count, kZeroRunKept + 1));
  };
  std::uint64_t at = 0;
  bool ok = true;
  while (at < size) {
    // A hole reads as zeros: it is taken as a run of them, unread.
    const off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
    if (data < 0 && errno == ENXIO) {
      holeOf(size - at);  // a hole to the end
      break;
    }
    if (data >= 0 && static_cast<std::uint64_t>(data) > at) {
      holeOf(static_cast<std::uint64_t>(data) - at);
      at = static_cast<std::uint64_t>(data);
      continue;
    }
    const ssize_t got = ::pread(fd, chunk.data(), chunk.size(), static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = std::strerror(errno);
      ok = false;
      break;
    }
    if (got == 0) break;  // the file shrank
    for (ssize_t i = 0; i < got; ++i) {
      const std::byte b = chunk[static_cast<std::size_t>(i)];
      zeros = b == std::byte{0} ? std::min(zeros + 1, kZeroRunKept + 1) : 0;
      if (zeros <= kZeroRunKept) out.push_back(b);
    }
    if (out.size() > maxSize) {
      error = "it holds more than " + std::to_string(maxSize) + " bytes of text";
      ok = false;
      break;
    }
    at += static_cast<std::uint64_t>(got);
  }
  ::close(fd);
  return ok;
}
#endif

// ---------------------------------------------------------------------------
// Writing.

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

std::string EscapeQuoted(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  for (const char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// The text of a REG_SZ value when writing it as "..." reads back the same
// bytes: one NUL unit at the end and nowhere else, no line breaks, surrogates
// paired.
std::optional<std::string> PlainString(std::span<const std::byte> data) {
  if (data.size() < 2 || data.size() % 2 != 0) return std::nullopt;
  const std::size_t count = data.size() / 2;
  auto unit = [&](std::size_t i) {
    return static_cast<char16_t>(std::to_integer<unsigned>(data[2 * i]) |
                                 (std::to_integer<unsigned>(data[2 * i + 1]) << 8));
  };
  if (unit(count - 1) != 0) return std::nullopt;
  for (std::size_t i = 0; i + 1 < count; ++i) {
    const char16_t u = unit(i);
    if (u == 0 || u == u'\r' || u == u'\n') return std::nullopt;
    if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 2 >= count || unit(i + 1) < 0xDC00 || unit(i + 1) > 0xDFFF) return std::nullopt;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return std::nullopt;
    }
  }
  return Utf16LeToUtf8(data);
}

// `lead` then the bytes as "xx,xx", lines kept within 80 columns by "\"
// continuations indented by two blanks.
void AppendHexList(std::string& out, std::string line, std::span<const std::byte> data) {
  bool fresh = false;
  for (std::size_t i = 0; i < data.size(); ++i) {
    const bool last = i + 1 == data.size();
    char token[4];
    std::snprintf(token, sizeof token, last ? "%02x" : "%02x,", std::to_integer<unsigned>(data[i]));
    const std::size_t tokenSize = last ? 2 : 3;
    if (!fresh && line.size() + tokenSize + (last ? 0 : 1) > kWrapColumn) {
      out += line;
      out += "\\\r\n";
      line = "  ";
      fresh = true;
    }
    line.append(token, tokenSize);
    fresh = false;
  }
  out += line;
  out += "\r\n";
}

void AppendValue(std::string& out, const MemoryStore::NamedValue& value) {
  if (HasLineBreak(value.name)) return;
  // Built in steps: GCC 12 at -O3 warns falsely (-Wrestrict) on "\"" + text.
  std::string lead = "@=";
  if (!value.name.empty()) {
    lead = '"';
    lead += EscapeQuoted(SanitizeUtf8(value.name));
    lead += "\"=";
  }
  const auto& data = value.value.data;
  const std::uint32_t type = value.value.type;
  if (type == REG_SZ) {
    if (const auto text = PlainString(data)) {
      out += lead + "\"" + EscapeQuoted(*text) + "\"\r\n";
      return;
    }
  }
  if (type == REG_DWORD && data.size() == 4) {
    char text[16];
    const unsigned number =
        std::to_integer<unsigned>(data[0]) | (std::to_integer<unsigned>(data[1]) << 8) |
        (std::to_integer<unsigned>(data[2]) << 16) | (std::to_integer<unsigned>(data[3]) << 24);
    std::snprintf(text, sizeof text, "dword:%08x", number);
    out += lead + text + "\r\n";
    return;
  }
  if (type == REG_BINARY) {
    lead += "hex:";
  } else {
    char text[16];
    std::snprintf(text, sizeof text, "hex(%x):", static_cast<unsigned>(type));
    lead += text;
  }
  AppendHexList(out, std::move(lead), data);
}

// ---------------------------------------------------------------------------
// Atomic file replacement, one small helper per system call.

std::string ErrnoText(int error) { return std::generic_category().message(error); }

#ifdef _WIN32

int OpenNew(const fs::path& path) {
  return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size(), 1u << 30));
    const int written = _write(fd, bytes.data(), chunk);
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool SyncFile(int fd) { return _commit(fd) == 0; }
bool CloseFile(int fd) { return _close(fd) == 0; }
void RemoveFile(const fs::path& path) { _wremove(path.c_str()); }
unsigned long ProcessId() { return GetCurrentProcessId(); }

bool ReplaceFile(const fs::path& from, const fs::path& to, std::string& reason) {
  if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  reason = std::system_category().message(static_cast<int>(GetLastError()));
  return false;
}

void KeepModeOf(const fs::path&, int) {}
void SyncFolder(const fs::path&) {}

#else

int OpenNew(const fs::path& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

bool SyncFile(int fd) { return ::fsync(fd) == 0; }
bool CloseFile(int fd) { return ::close(fd) == 0; }
void RemoveFile(const fs::path& path) { ::unlink(path.c_str()); }
unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

bool ReplaceFile(const fs::path& from, const fs::path& to, std::string& reason) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  reason = ErrnoText(errno);
  return false;
}

// The new file gets the permissions of the one it replaces.
void KeepModeOf(const fs::path& old, int fd) {
  struct stat info;
  if (::stat(old.c_str(), &info) == 0 && S_ISREG(info.st_mode)) ::fchmod(fd, info.st_mode & 07777);
}

// Makes the rename itself durable.
void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

#endif

}  // namespace

RegTextResult ParseRegistryText(std::span<const std::byte> bytes, MemoryStore& store,
                                const RegTextKeyMap& map) {
  RegTextResult result;
  const DecodedText decoded = DecodeText(bytes);
  LineReader lines(decoded.text);
  const auto first = FirstLine(lines);
  if (!first) {
    result.error = bytes.empty() ? "not a registry file: it is empty"
                                 : "not a registry file: it holds only blank lines";
    return result;
  }
  const auto format = HeaderFormat(*first);
  if (!format) {
    result.error = "not a registry file: its first line is \"" + Cut(*first, 60) + "\"";
    return result;
  }
  result.ok = true;
  result.format = *format;
  ReadSections(*format, lines, store, map, result);
  if (decoded.halfUnitLeft) {
    result.issues.push_back({lines.number(), "the file ends in half a UTF-16 character"});
    ++result.skippedLines;
  }
  return result;
}

RegTextResult LoadRegistryTextFile(const std::filesystem::path& file, MemoryStore& store,
                                   const RegTextKeyMap& map) {
  RegTextResult result;
  const std::string name = file.string();
  // A file that shrank while being read is parsed as far as it went. Its
  // first line is checked before it is read whole.
  std::vector<std::byte> bytes;
  std::string error;
  if (!ReadRegularFileHead(file, kSniffBytes, bytes, error)) {
    result.error = name + ": " + error;
    return result;
  }
  if (bytes.size() == kSniffBytes && !LooksLikeRegistryText(bytes)) {
    MemoryStore none;
    result = ParseRegistryText(bytes, none, map);
    result.ok = false;
    result.error = name + ": " + result.error;
    return result;
  }
  bytes.clear();
#ifdef _WIN32
  const bool read = ReadRegularFile(file, kMaxFileSize, bytes, error);
#else
  const bool read = ReadTextFile(file, kMaxFileSize, bytes, error);
#endif
  if (!read) {
    result.error = name + ": " + error;
    return result;
  }
  result = ParseRegistryText(bytes, store, map);
  if (!result.ok) result.error = name + ": " + result.error;
  return result;
}

bool LooksLikeRegistryText(std::span<const std::byte> bytes) {
  std::size_t size = std::min(bytes.size(), kSniffBytes);
  const DecodedText decoded = DecodeText(bytes.first(size));
  LineReader lines(decoded.text);
  const auto first = FirstLine(lines);
  return first && HeaderFormat(*first).has_value();
}

std::string WriteRegistryText(const MemoryStore& store, Store::Node node, std::string_view prefix) {
  std::string out(kHeaderRegedit5);
  out += "\r\n\r\n";
  struct Pending {
    Store::Node node;
    std::string path;
  };
  std::vector<Pending> pending{{node, std::string(prefix)}};
  while (!pending.empty()) {
    Pending item = std::move(pending.back());
    pending.pop_back();
    const auto& children = store.ChildrenOf(item.node);
    const auto& values = store.ValuesOf(item.node);
    if (!values.empty() || children.empty()) {
      out += '[';
      out += item.path;
      out += "]\r\n";
      for (const auto& value : values) AppendValue(out, value);
      out += "\r\n";
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      const std::string& name = store.NameOf(*it);
      if (HasLineBreak(name)) continue;
      const std::string clean = SanitizeUtf8(name);
      pending.push_back({*it, item.path.empty() ? clean : item.path + "\\" + clean});
    }
  }
  return out;
}

bool WriteFileAtomically(const std::filesystem::path& file, std::string_view bytes,
                         std::string& error) {
  static std::atomic<unsigned> counter{0};
  const std::string name = file.string();
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  const std::string base = file.filename().string();
  if (base.empty()) {
    error = name + ": not a file name";
    return false;
  }
  fs::path temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = folder / ("." + base + ".tmp-" + std::to_string(ProcessId()) + "-" +
                     std::to_string(counter.fetch_add(1)));
    fd = OpenNew(temp);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    error =
        name + ": cannot create a temporary file in " + folder.string() + ": " + ErrnoText(errno);
    return false;
  }
  KeepModeOf(file, fd);
  const bool written = WriteAll(fd, bytes) && SyncFile(fd);
  const int writeError = errno;
  const bool closed = CloseFile(fd);
  if (!written || !closed) {
    error =
        name + ": cannot write " + temp.string() + ": " + ErrnoText(written ? errno : writeError);
    RemoveFile(temp);
    return false;
  }
  std::string reason;
  if (!ReplaceFile(temp, file, reason)) {
    error = name + ": cannot replace it: " + reason;
    RemoveFile(temp);
    return false;
  }
  SyncFolder(folder);
  return true;
}

}  // namespace orbel::platform
