// The catalogue: reads every class of a computer behind a progress dialog,
// owns the sorted entries and their counters, builds the category tree,
// searches the entries and summarises the last reading.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "catalogue/CatalogueControls.h"
#include "catalogue/ClassExtras.h"
#include "model/COLEItemDescriptionUnit.h"
#include "model/COLEObjectUnit.h"
#include "platform/api/RegistryApi.h"
#include "registry/PatchedRegistry.h"

namespace orbel {

enum TReadStatus { ReadComplete = 0, ReadInterrupted = 1, ReadDenied = 2 };

// A class key whose reading raised a registry error.
struct ReadError {
  std::string key;
  std::string message;
};

// What the catalogue works on: the registry, the dialog and the main window's
// controls. Nothing here is owned.
struct CatalogueWindows {
  platform::RegistryApi* registry = nullptr;
  ProgressDialog* progress = nullptr;
  ObjectTree* tree = nullptr;
  AttributeList* list = nullptr;
  ImageList* smallImages = nullptr;
  ImageList* largeImages = nullptr;
  // Milliseconds of a steady clock; the animation changes at most every 200.
  std::function<std::uint32_t()> tickCount;
  // Takes icons for the entries of one reading from the files of the machine
  // behind a root; none: the files of the image read.
  std::function<std::shared_ptr<IconExtractor>(platform::RegistryApi&, platform::HKey root)>
      iconExtractor;
};

class TCOLESettings {
 public:
  explicit TCOLESettings(CatalogueWindows windows);
  ~TCOLESettings();
  TCOLESettings(const TCOLESettings&) = delete;
  TCOLESettings& operator=(const TCOLESettings&) = delete;

  // Clears the catalogue, reads the classes of RequestedComputer (this
  // computer when empty) behind the modal dialog and fills the tree.
  void LoadCatalogue();
  // Forgets the computers, clears the catalogue and builds the empty tree.
  void ResetCatalogue();
  void ClearCatalogue();
  void btnCancelClick();

  std::string DescriptionFor(const std::string& name) const;
  int EntryCount() const { return static_cast<int>(Entries.size()); }
  COLEObject* EntryAt(int position) const {
    return Entries[static_cast<std::size_t>(position)].get();
  }

  // The tree, the search and the summary.
  void BuildCategoryTree();
  void FillCategoryTree();
  void Find(const std::string& text, bool matchCase, bool wholeValue);
  void FindNext();
  void ShowInformation();
  // The summary text that ShowInformation shows.
  std::string InformationText() const;

  // Fields, as the main window and the summary read them.
  std::int32_t AnimationFrame = 0;
  std::int32_t EntriesRead = 0;
  std::int32_t ControlCount = 0;
  std::int32_t EmbeddableCount = 0;
  std::int32_t AutomationCount = 0;
  std::int32_t ShellExtensionCount = 0;
  std::int32_t OtherCount = 0;
  std::int32_t DocumentCount = 0;
  std::int32_t NotReadCount = 0;
  TReadStatus ReadStatus = ReadComplete;
  bool CancelRequested = false;
  std::unique_ptr<TPatchRegistry> Reader;
  std::unique_ptr<CItemDescription> Descriptions;
  std::vector<std::unique_ptr<COLEObject>> Entries;
  std::uint32_t LastFrameTick = 0;
  std::string FindText;
  bool FindMatchCase = false;
  bool FindWholeValue = false;
  TreeNode FindNode = 0;
  std::int32_t BaseImageCount = 0;
  std::string ViewedComputer;
  std::string RequestedComputer;
  // The key below HKEY_LOCAL_MACHINE whose subkeys are the classes read; the
  // companion reads the 32-bit list (Software\Classes\Wow6432Node\CLSID)
  // through it.
  std::string ClassList = "Software\\Classes\\CLSID";

  // The view read: a user's classes laid over the machine's (none: the
  // machine's alone), named in the summary by UserLabel; a class list read
  // after ClassList into the same tree (the 32-bit list when both views are
  // read; empty: none).
  std::shared_ptr<UserClassView> UserView;
  std::string UserLabel;
  std::string SecondClassList;
  // What the last reading knows of its entries beyond their registrations;
  // empty after a reading of the machine's 64-bit classes alone.
  std::unordered_map<const COLEObject*, ClassExtras> Extras;
  const ClassExtras* ExtrasOf(const COLEObject* entry) const;
  // Appends the added rows of `entry` to the attribute list (those of
  // unknown value left out when `hideUnknown`); their help texts, in order.
  std::vector<std::string> AppendExtraRows(const COLEObject& entry, bool hideUnknown);
  // Which entries the tree shows; none: all of them.
  std::function<bool(const COLEObject&, const ClassExtras*)> TreeFilter;
  // Called once a reading's entries are described, while the machine's root
  // it read (`root` of `registry`) is still connected: a higher layer adds
  // what it knows of the entries to Extras before the tree is filled.
  std::function<void(platform::RegistryApi& registry, platform::HKey root)> DescribeFurther;
  // Empties the tree and the attribute list and fills the tree again, as
  // TreeFilter now says.
  void RefillTree();
  // The lines the summary of a user's or 32-bit view adds: the scopes
  // counted, the 32-bit classes, the notices of the user's side; empty for a
  // reading of the machine's 64-bit classes alone.
  std::string ViewSummaryText() const;

  // Class keys of the last reading: how many, and those that raised a
  // registry error (with the error's text).
  std::int32_t ClassKeyCount = 0;
  std::vector<ReadError> ReadErrors;
  // Why the last reading could not start (the computer or this computer's
  // registry could not be read); empty when it could.
  std::string ReadProblem;
  // One line about the registry read, to be shown with the summary (a hive
  // read without the newer data of its transaction logs); empty when none.
  std::string Notice;
  // What the transaction logs gave when the registry read is a hive file;
  // nothing for any other registry.
  std::optional<platform::LogRecovery> Recovery;
  // What of the registry's file could not be read (a text registry's
  // skipped lines); empty when it read whole. Also one of ReadErrors.
  std::string FileDamage;

 private:
  void ReadClasses();
  // Fills Extras for the entries read; `secondList` holds those of SecondClassList.
  void DescribeEntries(const std::vector<const COLEObject*>& secondList);
  void StepProgress();
  bool SearchFrom();

  CatalogueWindows windows_;
};

}  // namespace orbel
