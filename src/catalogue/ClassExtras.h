// What a reading knows of an entry beyond its own registration: the view it
// belongs to, the side of a user's view that holds it, the badges the tree
// lays over its icon and the rows the attribute list adds after its own,
// each with its help text. A reading of the machine's 64-bit classes alone
// gives its entries none.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "catalogue/UserClassView.h"

namespace orbel {

// Small pictures laid over an entry's icon in the tree, as bits.
enum EntryBadge : unsigned {
  BadgeNone = 0,
  BadgeUser = 1u << 0,     // the user's side changes or adds the class
  BadgeView32 = 1u << 1,   // a class of the 32-bit programs' list
  BadgeFinding = 1u << 2,  // the class has findings worth a look
};

// A row added after an entry's own rows.
struct ExtraRow {
  std::string caption;
  std::string value;
  std::string help;  // shown in the description box when the row is selected
};

struct ClassExtras {
  std::string view = "64";          // the class list's view: "64" or "32"
  std::optional<ClassScope> scope;  // in a user's view: the side that holds the class
  unsigned badges = BadgeNone;
  std::vector<ExtraRow> rows;
};

// The help texts of the rows a reading adds.
std::string MachineRowHelp(const std::string& row);
extern const char* const kScopeHelp;
extern const char* const kViewHelp;
extern const char* const kTreatAsHelp;
extern const char* const kResolvedServerHelp;
// The caption of the row that names the server a TreatAs class really runs.
inline constexpr char kResolvedServerRow[] = "Resolved Server";

// The "Treat As" and "Resolved Server" rows of `entry`, whose TreatAs class
// is `target` (null: not registered); the server is the target's own row.
std::vector<ExtraRow> TreatAsRows(const COLEObject& entry, const COLEObject* target);

}  // namespace orbel
