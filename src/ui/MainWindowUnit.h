// The main window: the category tree on the left, the attribute list of the
// selected object on the right with the help text of the selected attribute
// below it, the menus, the tool bar and the status bar. It owns the
// catalogue, the view preferences, the first-start question and the title
// that names the computer being viewed.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/CatalogueControls.h"
#include "findings/ReadingFiles.h"
#include "platform/api/RegistryApi.h"

class MainWindowTest;
class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QToolButton;

namespace orbel {

class QtImageList;
class ReadingFindings;
class TAttributeListView;
class TCOLESettings;
class TFindDialog;
class TObjectTreeView;
class TPanel;
class TPersWindow;
class TProgressWindow;
class TSplitterBar;

// The preferences' key below HKEY_CURRENT_USER, and the placement's.
inline constexpr char kProgramKey[] = "Software\\Vell Inc.\\Orbel\\1.0";
inline constexpr char kWindowKey[] = "Software\\Vell Inc.\\Orbel\\1.0\\Window";

// The view of the computer read: the file of a user's classes laid over its
// own (empty: none), the name the title gives that user, and the class
// lists read ("64", "32" or "both").
struct ViewChoice {
  std::string userClasses;
  std::string userName;
  std::string view = "64";
};

class TMainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // `registry` gives the catalogue its HKEY_LOCAL_MACHINE and the
  // preferences their HKEY_CURRENT_USER; it must outlive the window.
  explicit TMainWindow(platform::RegistryApi& registry, QWidget* parent = nullptr);
  ~TMainWindow() override;

  TCOLESettings& COLESettings() { return *catalogue_; }

  // The controls the catalogue and the entries work on.
  TObjectTreeView* TreeViewObjects = nullptr;
  TAttributeListView* ListViewValues = nullptr;
  QtImageList* imlTreeViewImages = nullptr;
  QtImageList* imlListViewImagesSMALL = nullptr;
  QtImageList* imlListViewImagesBIG = nullptr;
  QtImageList* imlToolbarButtons = nullptr;

  // Window and control events.
  void FormShow();
  void FormActivate();
  void FormResize();
  void panRightResize();
  void SplitterLeftMoved();
  void SplitterRightMoved();
  void TreeViewObjectsChange(TreeNode node);
  // A selection state change of the attribute row `row`.
  void ListViewValuesChange(int row);
  void ListViewValuesExit();
  void ListViewValuesMouseMove();
  void popValuePopup();
  void popValueCopyClick();
  void FindDialogFind();

  // Menu commands.
  void mnuFileConnectClick();
  void mnuFileFindClick();
  void mnuFileFindNextClick();
  void mnuFileTestObjectClick();
  void mnuFileInformationClick();
  void mnuFileExitClick();
  void mnuViewRefreshClick();
  void mnuViewLargeIconsClick();
  void mnuViewSmallIconsClick();
  void mnuViewListClick();
  void mnuViewDetailsClick();
  void mnuViewDescriptionClick();
  void mnuViewFindingsClick();
  void mnuViewClearClick();
  void mnuHelpContentsClick();
  void mnuHelpOnHelpClick();
  void mnuHelpWebClick();
  void mnuHelpAboutClick();

  // Tool buttons.
  void tolRefreshClick() { mnuViewRefreshClick(); }
  void tolConnectClick() { mnuFileConnectClick(); }
  void tolInfoClick() { mnuFileInformationClick(); }
  void tolTestObjectClick() { mnuFileTestObjectClick(); }
  void tolShowUnknownClick();
  void tolFindingsClick();
  void tolViewBigIconsClick() { mnuViewLargeIconsClick(); }
  void tolViewSmallIconsClick() { mnuViewSmallIconsClick(); }
  void tolViewListClick() { mnuViewListClick(); }
  void tolViewDetailedClick() { mnuViewDetailsClick(); }

  // Starts with this image (a path as AbsoluteImagePath gives it; empty:
  // this computer, when `choice` names a user's classes) read in the view
  // `choice`, as if it had been chosen in the selector and confirmed,
  // instead of the welcome question. Call before showing.
  void OpenAtStart(const std::string& image, const ViewChoice& choice = {});

  // Where the manual is: beside the program (or in its ../share/orbel), in
  // the installed data folder, or in the source tree; empty when none of
  // them holds it.
  static std::string ManualPath();

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  friend class ::MainWindowTest;

  void BuildMenus();
  void BuildToolBar();
  void BuildPanes();
  void FormCreate();
  void FormCloseQuery();
  void FormDestroy();
  void SetStatusText(const std::string& text);
  void LoadViewSettings();
  void SaveViewSettings();
  void ReleaseViewButtons();
  void UpdateTitle();
  void ConnectAtStart();
  void LayoutPanes();
  void LayoutRightPane();
  void ShowDescription(const std::string& heading, const std::string& text);
  // Gives the catalogue the view of `choice_` for the next reading.
  void PrepareView();
  // "Done", or what the transaction logs of the hive read gave, or how many
  // objects have findings.
  std::string DoneText() const;
  // Fills the tree with the objects that have findings only, or with all
  // again; the selected object stays selected where it is still shown.
  void ShowOnlyFindings(bool only);
  // Opens the groups of the tree that hold objects: the few objects with
  // findings are shown at once.
  void OpenFindingGroups();
  // Runs a command as the application does: an error that escapes it is
  // shown in an error box.
  void Run(void (TMainWindow::*handler)());

  platform::RegistryApi& registry_;
  std::unique_ptr<TCOLESettings> catalogue_;
  std::unique_ptr<TPersWindow> PersWindow;

  // State of the window.
  bool IgnoreListChanges = false;
  bool IgnoreTreeChanges = false;
  std::string LastDescribedItem;
  bool FirstStart = false;
  int NameColumnWidth = 150;
  int ValueColumnWidth = 190;
  std::string HelpFile;
  bool activated_ = false;
  // Set while a reading or an object test runs, so that no reading, clearing
  // or object test starts inside it.
  bool reading_ = false;
  // The image named on the command line, until it is read.
  std::string startImage_;
  bool startPending_ = false;
  // The view of the computer chosen last, used by every reading.
  ViewChoice choice_;
  // The user of that view whose profile folders the findings resolve.
  UserProfile profile_;
  // The findings of the last reading.
  std::unique_ptr<ReadingFindings> findings_;
  // The help texts of the rows the catalogue added after the selected
  // entry's own, which are the last rows of the list.
  std::vector<std::string> extraHelps_;

  // Pane layout: the widths of panLeft and panRight, and of the description
  // box's neighbours in the right pane.
  int leftWidth_ = 229;
  int rightWidth_ = 373;
  bool descriptionShown_ = true;
  int listHeight_ = 0;
  int descriptionHeight_ = 70;

  // Menus.
  QMenu* mnuFile = nullptr;
  QMenu* Edit1 = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* mnuFileConnect = nullptr;
  QAction* mnuFileFind = nullptr;
  QAction* mnuFileFindNext = nullptr;
  QAction* mnuFileTestObject = nullptr;
  QAction* mnuFileInformation = nullptr;
  QAction* mnuFileExit = nullptr;
  QAction* mnuViewRefresh = nullptr;
  QAction* mnuViewLargeIcons = nullptr;
  QAction* mnuViewSmallIcons = nullptr;
  QAction* mnuViewList = nullptr;
  QAction* mnuViewDetails = nullptr;
  QAction* mnuViewDescription = nullptr;
  QAction* mnuViewApplyLogs = nullptr;
  QAction* mnuViewFindings = nullptr;
  QAction* mnuViewClear = nullptr;
  QAction* mnuHelpContents = nullptr;
  QAction* mnuHelpOnHelp = nullptr;
  QAction* mnuHelpWeb = nullptr;
  QAction* mnuHelpAbout = nullptr;
  QActionGroup* viewStyleGroup_ = nullptr;
  QMenu* popValue = nullptr;
  QAction* popValueCopy = nullptr;
  QAction* popValueCancel = nullptr;

  // Tool bar.
  QToolButton* tolRefresh = nullptr;
  QToolButton* tolConnect = nullptr;
  QToolButton* tolInfo = nullptr;
  QToolButton* tolTestObject = nullptr;
  QToolButton* tolShowUnknown = nullptr;
  QToolButton* tolFindings = nullptr;
  QToolButton* tolViewBigIcons = nullptr;
  QToolButton* tolViewSmallIcons = nullptr;
  QToolButton* tolViewList = nullptr;
  QToolButton* tolViewDetailed = nullptr;

  // Status bar and panes.
  QLabel* statusText_ = nullptr;
  TPanel* panClient_ = nullptr;
  QWidget* panLeft = nullptr;
  TSplitterBar* SplitterLeft = nullptr;
  TSplitterBar* SplitterRight = nullptr;
  QWidget* panRight = nullptr;
  TPanel* panRightLeft = nullptr;
  QWidget* panRightRight = nullptr;
  QWidget* panListView = nullptr;
  QWidget* panDescription = nullptr;
  QLabel* staDescriptionHeading = nullptr;
  QPlainTextEdit* staDescription = nullptr;

  TProgressWindow* progress_ = nullptr;
  TFindDialog* FindDialog = nullptr;
};

}  // namespace orbel
