// The icon set of one object entry: which image each row of the attribute
// list shows. Most rows show a fixed image of the attribute image lists; the
// server, handler and icon rows show the icon taken from the file their value
// names, appended to both image lists the first time the entry is listed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/Controls.h"
#include "platform/api/RegistryApi.h"
#include "platform/icons/IconExtract.h"
#include "platform/images/WindowsPaths.h"

namespace orbel {

// The shell's icon extraction for one machine's files.
class IconExtractor {
 public:
  virtual ~IconExtractor() = default;
  // The icon at `index` of `file`, the file named as a registration names it (a Windows path).
  virtual platform::ExtractedIcon Extract(const std::string& file, std::int32_t index) = 0;
};

// Extraction from the files of a registry image: the Windows path is mapped
// into the image; no drive folder or no such file gives IconOutcome::NoIcon.
// When the drive folder is a Wine prefix's drive_c (its parent holds
// system.reg), the prefix's other drives are mapped too.
class ImageIconExtractor : public IconExtractor {
 public:
  explicit ImageIconExtractor(std::optional<std::filesystem::path> driveFolder);
  platform::ExtractedIcon Extract(const std::string& file, std::int32_t index) override;

 private:
  std::optional<platform::ImageFiles> files_;
};

// The extraction for classes read below `root`: the shell's on Windows for
// this and network computers, an ImageIconExtractor over the files of the
// root's drive folder otherwise.
std::shared_ptr<IconExtractor> IconExtractorFor(platform::RegistryApi& api, platform::HKey root);

class COLEObjectIcons {
 public:
  // The lists are not owned and must outlive the icon set. Positions start at
  // the fixed images; nothing is extracted before PrepareIcons.
  COLEObjectIcons(ImageList* smallImages, ImageList* largeImages,
                  std::shared_ptr<IconExtractor> extractor);

  // Takes the icons of the entry's nine file rows, once: later calls do
  // nothing. `value(index)` gives the entry's value of that attribute index.
  void PrepareIcons(const std::function<std::string(int index)>& value);

  // The image position of the row of attribute `index` (1 to 24). -1, which
  // shows no image, for index 6 (no row) and for any index outside 1 to 24.
  int ImageFor(int index) const;
  // The image position of every extra attribute row.
  int ExtraImage() const { return extraImage_; }
  bool Prepared() const { return prepared_; }

  // The file of an icon location: cut at the first "/", then at the first
  // ",", then one leading and one trailing double quote removed. No trimming.
  static std::string IconFileOf(const std::string& location);
  // The icon index of a location: the text after the last "," read as a
  // whole signed 32-bit number (leading blanks skipped, optional sign, or a
  // "$" for hexadecimal digits, which give the 32-bit pattern they spell);
  // anything else gives 0.
  static std::int32_t IconIndexOf(const std::string& location);

 private:
  int IconFromLocation(const std::string& location, int fallback);

  std::int32_t nameImage_ = 1;
  std::int32_t typeImage_ = 1;
  std::int32_t extraImage_ = 0;
  std::int32_t guidImage_ = 2;
  std::int32_t regPathImage_ = 3;
  std::int32_t inprocServerImage_ = 10;
  std::int32_t inprocServer32Image_ = 10;
  std::int32_t localServerImage_ = 11;
  std::int32_t localServer32Image_ = 11;
  std::int32_t inprocHandlerImage_ = 13;
  std::int32_t inprocHandler32Image_ = 13;
  std::int32_t lastChangeImage_ = 9;
  std::int32_t versionImage_ = 15;
  std::int32_t toolboxBitmapImage_ = 14;
  std::int32_t toolboxBitmap32Image_ = 14;
  std::int32_t progIdImage_ = 6;
  std::int32_t versionIndependentProgIdImage_ = 6;
  std::int32_t ole1ClassImage_ = 6;
  std::int32_t defaultIconImage_ = 14;
  std::int32_t threadingModelImage_ = 12;
  std::int32_t handlerThreadingModelImage_ = 12;
  std::int32_t convertToImage_ = 4;
  std::int32_t typeLibImage_ = 8;
  std::int32_t miscStatusImage_ = 16;
  ImageList* smallImages_;
  ImageList* largeImages_;
  bool prepared_ = false;
  std::shared_ptr<IconExtractor> extractor_;
};

}  // namespace orbel
