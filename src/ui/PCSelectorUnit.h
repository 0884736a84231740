// The computer selector: a modal dialog in which the user names another
// computer (off Windows also a registry image) whose class registrations are
// to be read. It offers the computers viewed before, most recent first, and
// remembers the confirmed name at the top of that list.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "platform/api/RegistryApi.h"

class QCheckBox;
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
  // The view chosen with it: the file of the user's classes laid over the
  // computer's (empty: none) and the user's name (the file's path when it
  // was chosen with Browse); the class lists read, "64" or "both".
  std::string SelectedUserClasses;
  std::string SelectedUserName;
  std::string SelectedView = "64";

  // Escape and the close box end here as "&Cancel" does.
  void reject() override;

  // Asks for a registry image behind "Browse...": a folder when `folder` is
  // true, else a file; an empty text when the user gives none.
  std::function<QString(QWidget* parent, bool folder)> chooseImage;
  // Asks for a file of a user's classes (UsrClass.dat, user.reg or a .reg
  // export); an empty text when the user gives none.
  std::function<QString(QWidget* parent)> chooseUserClasses;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void drpComputersChange();
  void btnOKClick();
  void btnCancelClick();
  void btnBrowseClick(bool folder);
  void btnUserBrowseClick();
  // Offers the users of the image typed, the one remembered with it chosen.
  void ListUsers();
  // Places the controls; the labels take the height their text needs.
  void LayOut();

  // The names of the combo box's list, in list order.
  std::vector<std::string> ListEntries() const;

  platform::RegistryApi& registry_;
  QLabel* Label1 = nullptr;
  QLabel* Label3 = nullptr;
  QComboBox* drpComputers = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
  QPushButton* btnBrowse = nullptr;
  QLabel* lblUsers = nullptr;
  QComboBox* drpUsers = nullptr;
  QPushButton* btnUserBrowse = nullptr;
  QCheckBox* chkView32 = nullptr;
  // The text ListUsers last listed the users of.
  QString usersListedFor_;
};

// The view remembered with a computer or image: its user's classes and
// name, and its class lists ("64", "32" or "both"); none for a computer
// viewed without. Kept in the sections "User Classes", "User Names" and
// "Views", by the remembered name.
struct RememberedView {
  std::string userClasses;
  std::string userName;
  std::string view = "64";
};
RememberedView ReadRememberedView(platform::RegistryApi& registry, const std::string& computer);
// Throws ERegistryException.
void WriteRememberedView(platform::RegistryApi& registry, const std::string& computer,
                         const RememberedView& view);

// Whether a typed name names a registry image by its path rather than a
// computer: off Windows, a name that contains "/" or begins with "~".
bool IsImagePath(const std::string& typed);

// A path as it is remembered and connected with: "~" expanded, made absolute
// against the current folder, its case kept.
std::string AbsoluteImagePath(const std::string& typed);

// The form a name is remembered and connected with: a path (IsImagePath) as
// AbsoluteImagePath gives it; any other name with its ASCII letters
// upper-cased and two backslashes put in front unless it already begins with
// one. Not trimmed.
std::string NormaliseComputerName(const std::string& typed);

// Puts the normalised `name` first in the remembered list `entries`, removing
// the entry that names the same computer (without regard to case) or the
// same path (exactly).
void RememberFirst(std::vector<std::string>& entries, const std::string& name);

// Writes `entries` as "Computers"/"1" onwards. Throws ERegistryException.
void WriteRememberedComputers(platform::RegistryApi& registry,
                              const std::vector<std::string>& entries);
// Appends the remembered names, "Computers"/"1" to "10", empty ones left
// out. Throws ERegistryException; the names read before it stay appended.
void ReadRememberedComputers(platform::RegistryApi& registry, std::vector<std::string>& names);

}  // namespace orbel
