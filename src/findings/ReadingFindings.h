// The findings of a whole reading in the window: each class's findings as
// rows of its entry with the rule's explanation for help, a badge on the
// entries that have any, the TreatAs classes' servers as Windows finds them,
// and the findings counted by rule for the summary. Looked for once per
// reading, and only where the image has files: the rules on folders and
// files need them, and a reading without them is left as it is.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "catalogue/COLESettingsUnit.h"
#include "findings/ClassFindings.h"
#include "findings/ReadingFiles.h"

namespace orbel {

class ReadingFindings {
 public:
  // Looks for the findings of the entries of `catalogue` (just read and
  // described) in the files of the machine whose HKEY_LOCAL_MACHINE is
  // `root` of `registry`, with the folders of `user`'s profile; adds them to
  // the entries' extras. Nothing is looked for when that machine has no files.
  void Describe(TCOLESettings& catalogue, platform::RegistryApi& registry, platform::HKey root,
                const UserProfile& user);
  // Forgets the last reading's findings.
  void Clear();

  // Whether the last reading's findings were looked for (its image has files).
  bool Looked() const { return looked_; }
  // How many entries have findings.
  int EntriesWithFindings() const { return tally_.Entries(); }
  // The summary's lines: the findings by rule; empty when there are none.
  std::string SummaryText() const;

 private:
  bool looked_ = false;
  FindingTally tally_;
};

// The caption of a finding's row in the attribute list.
std::string FindingRowCaption(const std::string& rule);

}  // namespace orbel
