#include "platform/images/RegistryImage.h"

#include <array>

#include "platform/base/SafeFile.h"
#include "platform/base/Text.h"
#include "platform/formats/HiveStore.h"
#include "platform/formats/RegText.h"
#include "platform/store/MemoryStore.h"

namespace fs = std::filesystem;

namespace orbel::platform {

PrefixStore::PrefixStore(std::vector<std::string> prefix, std::shared_ptr<Store> inner)
    : prefix_(std::move(prefix)), inner_(std::move(inner)) {}

Store::Node PrefixStore::RootNode() const {
  return prefix_.empty() ? inner_->RootNode() : kVirtual;
}

Status PrefixStore::FindChild(Node parent, std::string_view name, Node& out) {
  if (!IsVirtual(parent)) return inner_->FindChild(parent, name, out);
  const std::size_t depth = parent & ~kVirtual;
  if (depth >= prefix_.size() || !EqualsNoCase(prefix_[depth], name)) return kFileNotFound;
  out = depth + 1 == prefix_.size() ? inner_->RootNode() : (kVirtual | (depth + 1));
  return kSuccess;
}

Status PrefixStore::Figures(Node node, KeyFigures& out) {
  if (!IsVirtual(node)) return inner_->Figures(node, out);
  const std::size_t depth = node & ~kVirtual;
  if (depth >= prefix_.size()) return kInvalidHandle;
  out = KeyFigures{};
  out.subkeyCount = 1;
  out.maxSubkeyNameLength = static_cast<std::uint32_t>(prefix_[depth].size());
  return kSuccess;
}

Status PrefixStore::SubkeyName(Node node, std::uint32_t index, std::string& out) {
  if (!IsVirtual(node)) return inner_->SubkeyName(node, index, out);
  const std::size_t depth = node & ~kVirtual;
  if (depth >= prefix_.size()) return kInvalidHandle;
  if (index > 0) return kNoMoreItems;
  out = prefix_[depth];
  return kSuccess;
}

Status PrefixStore::GetValue(Node node, std::string_view name, Value& out) {
  if (IsVirtual(node)) return kFileNotFound;
  return inner_->GetValue(node, name, out);
}

Status PrefixStore::GetValueInfo(Node node, std::string_view name, std::uint32_t& type,
                                 std::uint32_t& size) {
  if (IsVirtual(node)) return kFileNotFound;
  return inner_->GetValueInfo(node, name, type, size);
}

Status PrefixStore::ValueName(Node node, std::uint32_t index, std::string& out) {
  if (IsVirtual(node)) return kNoMoreItems;
  return inner_->ValueName(node, index, out);
}

std::optional<fs::path> FindNoCase(const fs::path& folder, const fs::path& relative) {
  fs::path current = folder;
  for (const auto& part : relative) {
    const std::string wanted = part.string();
    if (wanted.empty() || wanted == "/") continue;
    std::error_code ec;
    if (fs::exists(current / part, ec)) {
      current /= part;
      continue;
    }
    // Of several names that differ only in case, the smallest, so that the
    // answer does not depend on the order of the directory.
    std::optional<fs::path> match;
    for (fs::directory_iterator it(current, ec), end; !ec && it != end; it.increment(ec)) {
      if (EqualsNoCase(it->path().filename().string(), wanted) && (!match || it->path() < *match)) {
        match = it->path();
      }
    }
    if (!match) return std::nullopt;
    current = *match;
  }
  return current;
}

namespace {

std::span<const std::byte> AsBytes(const std::string& text) {
  return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}

// First bytes of a file, to tell its kind. Only regular files are opened, so
// that a FIFO or a device named as an image is refused instead of blocking.
std::optional<std::string> ReadHead(const fs::path& file, std::size_t count, std::string& error) {
  std::vector<std::byte> bytes;
  if (!ReadRegularFileHead(file, count, bytes, error)) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::string Describe(const RegTextIssue& issue, const fs::path& file) {
  return file.string() + ": line " + std::to_string(issue.line) + ": " + issue.message;
}

// The lines of a text registry that could not be read, counted, with the
// first few named: "FILE: 3 lines could not be read and were skipped (line
// 12: ...; line 40: ...; ...)". Empty when every line was read.
std::string DescribeSkippedLines(const RegTextResult& result, const fs::path& file) {
  if (result.skippedLines == 0 || result.issues.empty()) return {};
  constexpr std::size_t kNamed = 3;
  const std::size_t count = result.skippedLines;
  std::string text = file.string() + ": " + std::to_string(count) +
                     (count == 1 ? " line could not be read and was skipped ("
                                 : " lines could not be read and were skipped (");
  for (std::size_t i = 0; i < result.issues.size() && i < kNamed; ++i) {
    if (i > 0) text += "; ";
    text += "line " + std::to_string(result.issues[i].line) + ": " + result.issues[i].message;
  }
  if (count > kNamed) text += "; ...";
  return text + ")";
}

// Loads a text registry file; keys land where `map` puts them.
std::optional<RegistryImage> OpenTextImage(const fs::path& file, ImageKind kind,
                                           const RegTextKeyMap& map, std::string& error) {
  auto store = std::make_shared<MemoryStore>();
  store->SetWritable(false);
  const RegTextResult result = LoadRegistryTextFile(file, *store, map);
  if (!result.ok) {
    error = file.string() + ": " + result.error;
    return std::nullopt;
  }
  store->SetDamage(DescribeSkippedLines(result, file));
  RegistryImage image;
  image.kind = kind;
  image.source = file;
  image.machine = std::move(store);
  for (const auto& issue : result.issues) image.warnings.push_back(Describe(issue, file));
  return image;
}

std::optional<std::string> MapExportKey(std::string_view path) {
  const std::size_t cut = path.find('\\');
  const std::string root = AsciiUpper(path.substr(0, cut));
  const std::string_view rest = cut == std::string_view::npos ? "" : path.substr(cut + 1);
  if (root == "HKEY_LOCAL_MACHINE" || root == "HKLM") return std::string(rest);
  if (root == "HKEY_CLASSES_ROOT" || root == "HKCR") {
    return rest.empty() ? std::string("Software\\Classes")
                        : "Software\\Classes\\" + std::string(rest);
  }
  return std::nullopt;
}

#ifdef ORBEL_HAVE_HIVEX
std::optional<RegistryImage> OpenHiveImage(const fs::path& file, std::string& error,
                                           const ImageOptions& options) {
  std::string openError;
  std::shared_ptr<Store> hive = HiveStore::Open(file, openError, options.hiveLogs);
  if (!hive) {
    error = openError;
    return std::nullopt;
  }
  // A classes hive holds CLSID at its root; anything else is taken as a
  // SOFTWARE hive.
  Store::Node clsid = 0;
  const bool classes = hive->FindChild(hive->RootNode(), "CLSID", clsid) == kSuccess;
  RegistryImage image;
  image.kind = classes ? ImageKind::ClassesHive : ImageKind::SoftwareHive;
  image.source = file;
  std::vector<std::string> prefix{"Software"};
  if (classes) prefix.push_back("Classes");
  image.machine = std::make_shared<PrefixStore>(std::move(prefix), std::move(hive));
  return image;
}
#else
std::optional<RegistryImage> OpenHiveImage(const fs::path& file, std::string& error,
                                           const ImageOptions&) {
  error = file.string() + ": reading hive files needs libhivex, which this build lacks";
  return std::nullopt;
}
#endif

}  // namespace

std::optional<RegistryImage> OpenRegistryImage(const fs::path& path, std::string& error,
                                               const ImageOptions& options) {
  std::error_code ec;
  const auto status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    error = path.string() + ": no such file or folder";
    return std::nullopt;
  }
  if (fs::is_directory(status)) {
    if (auto reg = FindNoCase(path, "system.reg"); reg && fs::is_regular_file(*reg, ec)) {
      auto image = OpenTextImage(
          *reg, ImageKind::WinePrefix, [](std::string_view key) { return std::string(key); },
          error);
      if (!image) return std::nullopt;
      image->source = path;
      if (auto drive = FindNoCase(path, "drive_c")) image->driveFolder = *drive;
      return image;
    }
    // A Windows volume, or the Windows folder itself.
    const std::array<std::pair<fs::path, fs::path>, 2> layouts{{
        {"Windows/System32/config/SOFTWARE", path},
        {"System32/config/SOFTWARE", path.parent_path()},
    }};
    for (const auto& [relative, drive] : layouts) {
      if (auto hive = FindNoCase(path, relative); hive && fs::is_regular_file(*hive, ec)) {
        auto image = OpenHiveImage(*hive, error, options);
        if (!image) return std::nullopt;
        image->kind = ImageKind::WindowsFolder;
        image->source = path;
        image->driveFolder = drive;
        return image;
      }
    }
    error = path.string() +
            ": no registry in this folder (neither a Wine prefix with system.reg nor a "
            "Windows folder with System32\\config\\SOFTWARE)";
    return std::nullopt;
  }
  std::string headError;
  const auto head = ReadHead(path, 256, headError);
  if (!head) {
    error = path.string() + ": " + headError;
    return std::nullopt;
  }
  if (head->starts_with("regf")) return OpenHiveImage(path, error, options);
  if (LooksLikeRegistryText(AsBytes(*head))) {
    if (head->find("WINE REGISTRY") != std::string::npos) {
      return OpenTextImage(
          path, ImageKind::RegistryFile, [](std::string_view key) { return std::string(key); },
          error);
    }
    return OpenTextImage(path, ImageKind::RegistryFile, MapExportKey, error);
  }
  error = path.string() + ": not a registry hive, registry file, Wine prefix or Windows folder";
  return std::nullopt;
}

}  // namespace orbel::platform
