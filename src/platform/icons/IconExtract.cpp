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

namespace {

// Reads what an extraction needs of `file` into `bytes`; `whole` tells
// whether every byte asked for was there. An .ico file's directory is read,
// then only the images it names, packed into an .ico of their own, so that
// a large or sparse file costs what its directory uses, not its size; any
// other file is read whole, up to kMaxFileSize. When none of an .ico
// file's images can be used, `noImage` says why.
bool ReadIconSource(const std::filesystem::path& file, std::vector<std::byte>& bytes,
                    bool& whole, std::string& noImage, std::string& error) {
  RegularFile in;
  if (!in.Open(file, error)) return false;
  // The head, then the directory it announces.
  std::vector<std::byte> head;
  const auto readHead = [&](std::uint64_t length) {
    return in.ReadAt(0, static_cast<std::size_t>(std::min(in.Size(), length)), head, error);
  };
  if (in.Size() > kMaxFileSize || !readHead(kIconDirSize) || StartsWithMz(head) ||
      head.size() < kIconDirSize ||
      !readHead(kIconDirSize + U16(head, 4) * kIconDirEntrySize) || !IsIconFile(head)) {
    whole = true;
    if (head.size() == in.Size()) {
      bytes = std::move(head);
      return true;
    }
    if (!ReadRegularFile(file, kMaxFileSize, bytes, error)) return false;
    whole = bytes.size() == in.Size();
    return true;
  }
  const std::vector<IcoEntry> entries = PickIcoEntries(head, in.Size(), noImage);
  std::vector<std::vector<std::byte>> read(entries.size());
  std::vector<IconImage> images;
  whole = true;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!in.ReadAt(entries[i].offset, entries[i].size, read[i], error)) return false;
    // A file that shrank since its size was taken: the image is left out.
    if (read[i].size() != entries[i].size) {
      whole = false;
      continue;
    }
    images.push_back({Bytes(head).subspan(entries[i].entry, 8), read[i]});
  }
  // Without any image, the directory alone is kept (an index other than
  // 0 is named as such).
  if (images.empty()) {
    head.resize(static_cast<std::size_t>(kIconDirSize + U16(head, 4) * kIconDirEntrySize));
    bytes = std::move(head);
  } else {
    bytes = BuildIco(images);
  }
  return true;
}

}  // namespace

ExtractedIcon ExtractIconFromFile(const std::filesystem::path& file, std::int32_t index) {
  const std::string name = file.string();
  // Read, not mapped: a file that shrinks or a damaged volume then gives a
  // failed read instead of SIGBUS, and no FIFO or device is opened. What was
  // read of the last file is kept while its size and time stay the same:
  // the rows of an entry, and many entries, name the same large library.
  struct LastFile {
    std::filesystem::path path;
    std::uintmax_t size = 0;
    std::filesystem::file_time_type time;
    std::vector<std::byte> bytes;
    std::string noImage;
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
    bool whole = false;
    if (!ReadIconSource(file, last.bytes, whole, last.noImage, error)) {
      last = LastFile{};
      return NoIcon(name + ": " + error);
    }
    if (regular && !code && whole) {
      last.path = file;
      last.size = size;
      last.time = time;
    }
  }
  if (!last.noImage.empty() && index == 0) return NoIcon(name + ": " + last.noImage);
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
