#include "model/COLEObjectIconsUnit.h"

#include <span>
#include <string_view>
#include <utility>

#include "platform/icons/WindowsIcons.h"
#include "platform/images/RegisteredFiles.h"

namespace orbel {
namespace {

namespace fs = std::filesystem;

// The 0 to 15 value of a hexadecimal or decimal digit, or -1.
int DigitValue(char c, int base) {
  int value = -1;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  }
  return value < base ? value : -1;
}

platform::ExtractedIcon NoIcon(std::string error) {
  platform::ExtractedIcon result;
  result.outcome = platform::IconOutcome::NoIcon;
  result.error = std::move(error);
  return result;
}

}  // namespace

ImageIconExtractor::ImageIconExtractor(std::optional<fs::path> driveFolder) {
  if (driveFolder && !driveFolder->empty()) files_ = platform::ImageFilesOfDriveFolder(*driveFolder);
}

platform::ExtractedIcon ImageIconExtractor::Extract(const std::string& file, std::int32_t index) {
  if (!files_) return NoIcon(file + ": the registry image has no folder of files");
  const std::optional<fs::path> mapped = platform::MapWindowsPath(file, *files_);
  if (!mapped) return NoIcon(file + ": no such file in the registry image");
  return platform::ExtractIconFromFile(*mapped, index);
}

#ifdef _WIN32
namespace {
class ShellIconExtractor : public IconExtractor {
 public:
  explicit ShellIconExtractor(bool thisComputer) : thisComputer_(thisComputer) {}
  platform::ExtractedIcon Extract(const std::string& file, std::int32_t index) override {
    return platform::ExtractIconWithShell(file, index, thisComputer_);
  }

 private:
  bool thisComputer_;
};
}  // namespace
#endif

std::shared_ptr<IconExtractor> IconExtractorFor(platform::RegistryApi& api, platform::HKey root) {
#ifdef _WIN32
  if (platform::ShellGivesIconsFor(api, root)) {
    return std::make_shared<ShellIconExtractor>(platform::IsThisComputersRegistry(api, root));
  }
#endif
  return std::make_shared<ImageIconExtractor>(api.DriveFolderOf(root));
}

COLEObjectIcons::COLEObjectIcons(ImageList* smallImages, ImageList* largeImages,
                                 std::shared_ptr<IconExtractor> extractor)
    : smallImages_(smallImages), largeImages_(largeImages), extractor_(std::move(extractor)) {}

void COLEObjectIcons::PrepareIcons(const std::function<std::string(int index)>& value) {
  if (prepared_) return;
  // The file rows, in the order their icons are taken.
  const std::pair<int, std::int32_t COLEObjectIcons::*> fileRows[] = {
      {12, &COLEObjectIcons::inprocServerImage_},  {13, &COLEObjectIcons::inprocServer32Image_},
      {15, &COLEObjectIcons::localServerImage_},   {16, &COLEObjectIcons::localServer32Image_},
      {17, &COLEObjectIcons::inprocHandlerImage_}, {18, &COLEObjectIcons::inprocHandler32Image_},
      {20, &COLEObjectIcons::toolboxBitmapImage_}, {21, &COLEObjectIcons::toolboxBitmap32Image_},
      {22, &COLEObjectIcons::defaultIconImage_},
  };
  for (const auto& [index, position] : fileRows) {
    this->*position = IconFromLocation(value(index), this->*position);
  }
  prepared_ = true;
}

int COLEObjectIcons::ImageFor(int index) const {
  switch (index) {
    case 1:
      return nameImage_;
    case 2:
      return typeImage_;
    case 3:
      return guidImage_;
    case 4:
      return regPathImage_;
    case 5:
      return convertToImage_;
    case 7:
      return progIdImage_;
    case 8:
      return versionIndependentProgIdImage_;
    case 9:
      return ole1ClassImage_;
    case 10:
      return typeLibImage_;
    case 11:
      return lastChangeImage_;
    case 12:
      return inprocServerImage_;
    case 13:
      return inprocServer32Image_;
    case 14:
      return threadingModelImage_;
    case 15:
      return localServerImage_;
    case 16:
      return localServer32Image_;
    case 17:
      return inprocHandlerImage_;
    case 18:
      return inprocHandler32Image_;
    case 19:
      return handlerThreadingModelImage_;
    case 20:
      return toolboxBitmapImage_;
    case 21:
      return toolboxBitmap32Image_;
    case 22:
      return defaultIconImage_;
    case 23:
      return versionImage_;
    case 24:
      return miscStatusImage_;
    default:
      return -1;
  }
}

std::string COLEObjectIcons::IconFileOf(const std::string& location) {
  std::string_view text(location);
  text = text.substr(0, text.find('/'));
  text = text.substr(0, text.find(','));
  if (text.starts_with('"')) text.remove_prefix(1);
  if (text.ends_with('"')) text.remove_suffix(1);
  return std::string(text);
}

std::int32_t COLEObjectIcons::IconIndexOf(const std::string& location) {
  const std::size_t comma = location.rfind(',');
  if (comma == std::string::npos) return 0;
  const std::string_view text = std::string_view(location).substr(comma + 1);

  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  int base = 10;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  } else if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  }

  const std::uint64_t limit =
      base == 16 ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
  std::uint64_t value = 0;
  for (; i < text.size(); ++i) {
    const int digit = DigitValue(text[i], base);
    if (digit < 0) return 0;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (value > limit) return 0;
  }
  if (base == 16) return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  const std::int64_t signedValue =
      negative ? -static_cast<std::int64_t>(value) : static_cast<std::int64_t>(value);
  return static_cast<std::int32_t>(signedValue);
}

int COLEObjectIcons::IconFromLocation(const std::string& location, int fallback) {
  if (!extractor_ || !smallImages_ || !largeImages_) return fallback;
  const std::int32_t index = IconIndexOf(location);
  const std::string file = IconFileOf(location);
  platform::ExtractedIcon icon = extractor_->Extract(file, index);
  if (icon.outcome == platform::IconOutcome::NoIcon && index > 0) {
    icon = extractor_->Extract(file, 0);
  }
  if (icon.outcome == platform::IconOutcome::NoIcon) return fallback;
  // An unusable icon goes in as no bytes at all, which the lists refuse.
  if (icon.outcome == platform::IconOutcome::Unusable) icon.ico.clear();
  const std::span<const std::byte> bytes(icon.ico);
  const int position = smallImages_->AppendIcon(bytes);
  largeImages_->AppendIcon(bytes);
  return position;
}

}  // namespace orbel
