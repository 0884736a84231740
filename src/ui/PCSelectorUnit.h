// The computer selector: a modal dialog in which the user names another
// computer (off Windows also a registry image) whose class registrations are
// to be read. It offers the computers viewed before, most recent first, and
// remembers the confirmed name at the top of that list.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "platform/RegistryApi.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace orbel {

class TPCSelector : public QDialog {
  Q_OBJECT

 public:
  // Builds the dialog and fills its list from the settings ("Computers"/"1" to "10").
  TPCSelector(platform::RegistryApi& registry, QWidget* owner);

  // The normalised name after "&OK"; empty after "&Cancel", Escape or the close box.
  std::string SelectedComputer;

  // Escape and the close box end here as "&Cancel" does.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void drpComputersChange();
  void btnOKClick();
  void btnCancelClick();

  // The names of the combo box's list, in list order.
  std::vector<std::string> ListEntries() const;

  platform::RegistryApi& registry_;
  QLabel* Label1 = nullptr;
  QLabel* Label3 = nullptr;
  QComboBox* drpComputers = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
};

// The form a name is remembered and connected with: ASCII letters upper-cased,
// two backslashes put in front unless it already begins with one. Not trimmed.
std::string NormaliseComputerName(const std::string& typed);

}  // namespace orbel
