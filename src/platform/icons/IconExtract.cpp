#include "platform/icons/IconExtract.h"

#include <optional>

#include "platform/base/SafeFile.h"
#include "platform/icons/IcoFile.h"
#include "platform/icons/IconGroup.h"
#include "platform/icons/PeResources.h"

namespace orbel::platform {

using namespace iconfile;

namespace {

constexpr std::uint64_t kMaxFileSize = 256ull * 1024 * 1024;

ExtractedIcon Fail(IconOutcome outcome, std::string error) {
  ExtractedIcon result;
  result.outcome = outcome;
  result.error = std::move(error);
  return result;
}

ExtractedIcon NoIcon(std::string error) { return Fail(IconOutcome::NoIcon, std::move(error)); }

ExtractedIcon Found(const std::vector<IconImage>& images) {
  ExtractedIcon result;
  result.outcome = IconOutcome::Found;
  result.ico = BuildIco(images);
  return result;
}

// An .ico file is one icon, index 0, with all its sizes.
ExtractedIcon ExtractFromIconFile(Bytes file, std::int32_t index) {
  if (index != 0) {
    return NoIcon("an .ico file holds one icon, index 0 (index " + std::to_string(index) + ")");
  }
  std::string error;
  const std::vector<IconImage> images = ReadIcoImages(file, error);
  if (images.empty()) return NoIcon(error);
  return Found(images);
}

ExtractedIcon ExtractFromPe(Bytes file, std::int32_t index) {
  PeResources pe(file);
  std::string error = pe.Open();
  if (!pe.HasResources()) return NoIcon(error);

  const auto groups = pe.TypeDir(kRtGroupIcon, error);
  if (!groups) return NoIcon(error.empty() ? "the program has no icon groups" : error);
  const auto chosen = PickGroup(pe, *groups, index);
  if (!chosen) return NoIcon(NoGroupMessage(index, *groups));
  const auto group = pe.Data(*chosen, {0u, groups->offset}, error);
  if (!group) return NoIcon(error);
  const auto count = GroupMemberCount(*group, error);
  if (!count) return NoIcon(error);

  std::string iconError;
  const auto icons = pe.TypeDir(kRtIcon, iconError);
  if (!icons) return NoIcon(iconError.empty() ? "the program has no icon images" : iconError);
  const auto images = GroupImages(pe, file, *group, *count, *icons, iconError);
  if (images.empty()) {
    return NoIcon("none of the " + std::to_string(*count) + " images of the icon group is present" +
                  (iconError.empty() ? std::string() : ": " + iconError));
  }
  return Found(images);
}

bool StartsWithMz(Bytes file) {
  return file.size() >= 2 && file[0] == std::byte{'M'} && file[1] == std::byte{'Z'};
}

}  // namespace

ExtractedIcon ExtractIconFromBytes(std::span<const std::byte> file, std::int32_t index) {
  if (StartsWithMz(file)) return ExtractFromPe(file, index);
  if (IsIconFile(file)) return ExtractFromIconFile(file, index);
  return Fail(IconOutcome::Unusable,
              file.empty() ? "the file is empty"
                           : "the file is neither a program or library nor an .ico file");
}

ExtractedIcon ExtractIconFromFile(const std::filesystem::path& file, std::int32_t index) {
  const std::string name = file.string();
  // Read, not mapped: a file that shrinks or a damaged volume then gives a
  // failed read instead of SIGBUS, and no FIFO or device is opened. The last
  // file read is kept while its size and time stay the same: the rows of an
  // entry, and many entries, name the same large library.
  struct LastFile {
    std::filesystem::path path;
    std::uintmax_t size = 0;
    std::filesystem::file_time_type time;
    std::vector<std::byte> bytes;
  };
  static LastFile last;
  std::error_code code;
  const auto status = std::filesystem::status(file, code);
  const bool regular = !code && std::filesystem::is_regular_file(status);
  const std::uintmax_t size = regular ? std::filesystem::file_size(file, code) : 0;
  const auto time = regular && !code ? std::filesystem::last_write_time(file, code)
                                     : std::filesystem::file_time_type{};
  if (!regular || code || last.path != file || last.size != size || last.time != time) {
    last = LastFile{};
    std::string error;
    if (!ReadRegularFile(file, kMaxFileSize, last.bytes, error)) {
      last = LastFile{};
      return NoIcon(name + ": " + error);
    }
    if (regular && !code && last.bytes.size() == size) {
      last.path = file;
      last.size = size;
      last.time = time;
    }
  }
  ExtractedIcon result = ExtractIconFromBytes(last.bytes, index);
  if (!result.error.empty()) result.error = name + ": " + result.error;
  return result;
}

std::int32_t CountIcons(std::span<const std::byte> file) {
  if (StartsWithMz(file)) {
    PeResources pe(file);
    pe.Open();
    if (!pe.HasResources()) return 0;
    std::string error;
    const auto groups = pe.TypeDir(kRtGroupIcon, error);
    return groups ? static_cast<std::int32_t>(groups->total) : 0;
  }
  if (IsIconFile(file)) return 1;
  return 0;
}

}  // namespace orbel::platform
