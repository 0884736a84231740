// One entry of the catalogue: a registered COM class with its display name,
// kind and numbered attributes, and the per-entry work of the main window's
// commands (listing, searching, testing).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/COLEObjectIconsUnit.h"
#include "model/COLEObjectRegistrySettingsUnit.h"
#include "model/Controls.h"
#include "platform/objects/ObjectCreation.h"
#include "registry/PatchedRegistry.h"

namespace orbel {

// Object kinds: distinct bits, counted and grouped by exact value.
enum ObjectKind : std::int32_t {
  KindControl = 1,
  KindEmbeddable = 2,
  KindAutomation = 4,
  KindShellExtension = 8,
  KindDocument = 16,
  KindOther = 2048,
};

// The display name of a kind ("Other/Unknown Object" for any other value).
std::string_view KindDisplayName(std::int32_t kind);

// The attribute names by GetValue index (1 to 24); index 6 has none.
std::string AttributeName(int index);

// Attribute indexes in row order: 1 to 24 without 6.
inline constexpr int kFixedRowCount = 23;
int AttributeIndexAtRow(int row);  // row 1..23

class COLEObject {
 public:
  // Builds the entry from the class key the reader stands on. Registry
  // errors propagate. The extractor takes icons from the files of the
  // machine the class was read from; none: a fresh one for the reader's root.
  COLEObject(TPatchRegistry& reader, AttributeList* valueList, ImageList* smallImages,
             ImageList* largeImages, std::shared_ptr<IconExtractor> extractor = nullptr);

  // The value of the attribute with that index (1 to 24).
  std::string GetValue(int index) const;
  // Replaces the rows of the attribute list by this entry's rows.
  void FillValueList();
  // Looks for the text among the values; the first match in row order wins.
  bool Find(const std::string& text, bool matchCase, bool wholeValue);
  // Selects the row of the last match in the attribute list.
  void SelectFoundRow();
  // Tries to create the object from its programmatic identifier and says how
  // it went. Objects are created only for this computer's classes (see
  // platform::ObjectCreationFor).
  void TestCreate();
  void TestCreate(platform::ObjectCreation& creation);

  // Made when the rows are first listed: most entries never are.
  std::unique_ptr<COLEObjectIcons> Icons;
  std::unique_ptr<COLEObjectRegistrySettings> RegistrySettings;
  AttributeList* ValueList = nullptr;
  // The kind and the name lie together: filling the tree reads both.
  std::int32_t Kind = KindOther;
  std::int32_t FoundIndex = 0;
  std::string DisplayName;
  bool WholeValue = false;
  bool MatchCase = false;
  bool HideUnknown = false;

 private:
  // Beside the flags above, where it takes no room of its own.
  bool thisComputer_;  // read from this computer's registry, not a connected one

 public:
  std::string SearchText;
  // The kind as the catalogue names it.
  std::string_view KindName() const { return KindDisplayName(Kind); }

 private:
  // What Icons is made with.
  ImageList* smallImages_;
  ImageList* largeImages_;
  std::shared_ptr<IconExtractor> extractor_;
  bool Matches(const std::string& value) const;
  void AddRow(const std::string& caption, const std::string& value, int image);
};

}  // namespace orbel
