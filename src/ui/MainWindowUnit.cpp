#include "ui/MainWindowUnit.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>

#include "catalogue/COLESettingsUnit.h"
#include "catalogue/UserClasses.h"
#include "findings/ReadingFindings.h"
#include "platform/base/ProgramFolder.h"
#include "platform/computer/LocalImage.h"
#include "platform/images/RegistryImage.h"
#include "registry/PatchedRegistry.h"
#include "registry/RegIniFile.h"
#include "tools/Vell_Tools.h"
#include "ui/AboutWindowUnit.h"
#include "ui/AttributeListView.h"
#include "ui/FindDialogUnit.h"
#include "ui/ObjectTreeView.h"
#include "ui/PCSelectorUnit.h"
#include "ui/Panels.h"
#include "ui/ProgressWindow.h"
#include "ui/QtImageList.h"
#include "ui/QtScreen.h"
#include "ui/Vell_PersWindow.h"

#ifndef ORBEL_SOURCE_DOCS_DIR
#define ORBEL_SOURCE_DOCS_DIR "docs"
#endif

namespace orbel {
namespace {

constexpr char kTitle[] = "Vell Orbel";
constexpr char kLoading[] = "Please wait, loading...";
constexpr char kDone[] = "Done";
constexpr char kHeading[] = " Description";
constexpr char kNothingSelected[] = "(Nothing selected)";
constexpr char kUnknownValue[] = "<Unknown>";
constexpr char kManualName[] = "Orbel.html";

// The two splitter bars between the panes, 3 pixels each.
constexpr int kSplitters = 6;
// The pane widths of the design.
constexpr int kObjectsWidth = 229;
constexpr int kDetailsWidth = 373;

// A pane of no width could never be dragged back: such a width, read or about
// to be saved, gives way to the design's.
int UsableWidth(int width, int design) { return width > 0 ? width : design; }

QString Q(const std::string& text) { return QString::fromStdString(text); }

// What the transaction logs gave the hives of the last reading: the
// machine's and the user's, where either is a hive.
std::vector<const platform::LogRecovery*> RecoveriesOf(const TCOLESettings& catalogue) {
  std::vector<const platform::LogRecovery*> recoveries;
  if (catalogue.Recovery) recoveries.push_back(&*catalogue.Recovery);
  if (catalogue.UserView && catalogue.UserView->UserRecovery()) {
    recoveries.push_back(&*catalogue.UserView->UserRecovery());
  }
  return recoveries;
}

}  // namespace

TMainWindow::TMainWindow(platform::RegistryApi& registry, QWidget* parent)
    : QMainWindow(parent), registry_(registry) {
  InitUiResources();
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QString::fromLatin1(kTitle));

  imlTreeViewImages = new QtImageList(16, TreeImageFiles(), this);
  imlTreeViewImages->setObjectName(QStringLiteral("imlTreeViewImages"));
  imlListViewImagesSMALL = new QtImageList(16, AttributeImageFiles(), this);
  imlListViewImagesSMALL->setObjectName(QStringLiteral("imlListViewImagesSMALL"));
  imlListViewImagesBIG = new QtImageList(32, AttributeImageFiles(), this);
  imlListViewImagesBIG->setObjectName(QStringLiteral("imlListViewImagesBIG"));
  imlToolbarButtons = new QtImageList(16, ToolbarImageFiles(), this);
  imlToolbarButtons->setObjectName(QStringLiteral("imlToolbarButtons"));

  BuildMenus();
  BuildToolBar();
  BuildPanes();

  statusBar()->setObjectName(QStringLiteral("StatusBar"));
  statusText_ = new QLabel(statusBar());
  statusText_->setObjectName(QStringLiteral("StatusBarText"));
  statusBar()->addWidget(statusText_, 1);

  progress_ = new TProgressWindow(this);
  FindDialog = new TFindDialog(this);
  FindDialog->onFind = [this] { Run(&TMainWindow::FindDialogFind); };
  FindDialog->onHelp = [this] {
    if (!HelpFile.empty()) OpenDocument(HelpFile + "#find");
  };

  // The bounds of the design; the placement component may replace them.
  move(15, 15);
  resize(753, 447);
  PersWindow = std::make_unique<TPersWindow>(this, registry_);
  PersWindow->RegPath = kWindowKey;
  if (PersWindow->Enabled) PersWindow->RestorePlacement();

  try {
    FormCreate();
  } catch (const std::exception& e) {
    ErrorMessage(e.what());
  }
}

TMainWindow::~TMainWindow() {
  // Whatever the way here, no tree or list event does work from now on.
  IgnoreListChanges = true;
  IgnoreTreeChanges = true;
  try {
    FormDestroy();
  } catch (const std::exception& e) {
    ErrorMessage(e.what());
  }
  catalogue_.reset();
  if (PersWindow && PersWindow->Enabled) PersWindow->SavePlacement();
}

void TMainWindow::Run(void (TMainWindow::*handler)()) {
  try {
    (this->*handler)();
  } catch (const std::exception& e) {
    ErrorMessage(e.what());
  }
}

void TMainWindow::BuildMenus() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu"));
  auto item = [this](QMenu* menu, const char* name, const char* caption, const QKeySequence& keys,
                     void (TMainWindow::*handler)()) {
    auto* action = new QAction(QString::fromLatin1(caption), this);
    action->setObjectName(QString::fromLatin1(name));
    if (!keys.isEmpty()) action->setShortcut(keys);
    connect(action, &QAction::triggered, this, [this, handler] { Run(handler); });
    menu->addAction(action);
    return action;
  };
  auto separator = [](QMenu* menu, const char* name) {
    menu->addSeparator()->setObjectName(QString::fromLatin1(name));
  };

  mnuFile = bar->addMenu(QStringLiteral(" &File "));
  mnuFile->setObjectName(QStringLiteral("mnuFile"));
  mnuFileConnect = item(mnuFile, "mnuFileConnect", "&Connect...", QKeySequence(Qt::Key_F8),
                        &TMainWindow::mnuFileConnectClick);
  separator(mnuFile, "N7");
  mnuFileFind = item(mnuFile, "mnuFileFind", "&Find...", QKeySequence(Qt::CTRL | Qt::Key_F),
                     &TMainWindow::mnuFileFindClick);
  mnuFileFindNext = item(mnuFile, "mnuFileFindNext", "Find &Next", QKeySequence(Qt::Key_F3),
                         &TMainWindow::mnuFileFindNextClick);
  separator(mnuFile, "N1");
  mnuFileTestObject = item(mnuFile, "mnuFileTestObject", "&Test Object...",
                           QKeySequence(Qt::Key_F10), &TMainWindow::mnuFileTestObjectClick);
  separator(mnuFile, "N11");
  mnuFileInformation = item(mnuFile, "mnuFileInformation", "&Information...",
                            QKeySequence(Qt::Key_F6), &TMainWindow::mnuFileInformationClick);
  separator(mnuFile, "N6");
  mnuFileExit = item(mnuFile, "mnuFileExit", "E&xit", {}, &TMainWindow::mnuFileExitClick);

  Edit1 = bar->addMenu(QStringLiteral(" &View "));
  Edit1->setObjectName(QStringLiteral("Edit1"));
  mnuViewRefresh = item(Edit1, "mnuViewRefresh", "&Refresh", QKeySequence(Qt::Key_F5),
                        &TMainWindow::mnuViewRefreshClick);
  // Whether a hive is read as its transaction logs bring it; taken up by the
  // next reading (Refresh or Connect).
  mnuViewApplyLogs = new QAction(QStringLiteral("Apply Transaction &Logs"), this);
  mnuViewApplyLogs->setObjectName(QStringLiteral("mnuViewApplyLogs"));
  mnuViewApplyLogs->setCheckable(true);
  mnuViewApplyLogs->setChecked(true);
  connect(mnuViewApplyLogs, &QAction::toggled, this, [](bool apply) {
    platform::SetSystemImageOptions(
        {apply ? platform::HiveLogs::Apply : platform::HiveLogs::Ignore});
  });
  Edit1->addAction(mnuViewApplyLogs);
  // The tree shows the objects with findings only.
  mnuViewFindings =
      item(Edit1, "mnuViewFindings", "Show Only &Findings",
           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), &TMainWindow::mnuViewFindingsClick);
  mnuViewFindings->setCheckable(true);
  separator(Edit1, "N4");
  mnuViewLargeIcons =
      item(Edit1, "mnuViewLargeIcons", "Lar&ge Icons", {}, &TMainWindow::mnuViewLargeIconsClick);
  mnuViewSmallIcons =
      item(Edit1, "mnuViewSmallIcons", "S&mall Icons", {}, &TMainWindow::mnuViewSmallIconsClick);
  mnuViewList = item(Edit1, "mnuViewList", "&List", {}, &TMainWindow::mnuViewListClick);
  mnuViewDetails = item(Edit1, "mnuViewDetails", "&Details", {}, &TMainWindow::mnuViewDetailsClick);
  viewStyleGroup_ = new QActionGroup(this);
  viewStyleGroup_->setExclusive(true);
  for (QAction* action : {mnuViewLargeIcons, mnuViewSmallIcons, mnuViewList, mnuViewDetails}) {
    action->setCheckable(true);
    viewStyleGroup_->addAction(action);
  }
  mnuViewDetails->setChecked(true);
  separator(Edit1, "N5");
  mnuViewDescription = new QAction(QStringLiteral("D&escription box"), this);
  mnuViewDescription->setObjectName(QStringLiteral("mnuViewDescription"));
  mnuViewDescription->setCheckable(true);
  mnuViewDescription->setChecked(true);
  // The handler inverts the tick itself; undo the toggle the menu already made.
  connect(mnuViewDescription, &QAction::triggered, this, [this] {
    mnuViewDescription->setChecked(!mnuViewDescription->isChecked());
    Run(&TMainWindow::mnuViewDescriptionClick);
  });
  Edit1->addAction(mnuViewDescription);
  separator(Edit1, "N10");
  mnuViewClear = item(Edit1, "mnuViewClear", "&Clear", {}, &TMainWindow::mnuViewClearClick);

  mnuHelp = bar->addMenu(QStringLiteral(" &Help "));
  mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  mnuHelpContents = item(mnuHelp, "mnuHelpContents", "&Contents", QKeySequence(Qt::Key_F1),
                         &TMainWindow::mnuHelpContentsClick);
  separator(mnuHelp, "N2");
  mnuHelpOnHelp =
      item(mnuHelp, "mnuHelpOnHelp", "&Help on Help", {}, &TMainWindow::mnuHelpOnHelpClick);
  separator(mnuHelp, "N8");
  mnuHelpWeb = item(mnuHelp, "mnuHelpWeb", "Vell in the &Web", {}, &TMainWindow::mnuHelpWebClick);
  separator(mnuHelp, "N3");
  mnuHelpAbout = item(mnuHelp, "mnuHelpAbout", "&About", {}, &TMainWindow::mnuHelpAboutClick);

  popValue = new QMenu(this);
  popValue->setObjectName(QStringLiteral("popValue"));
  popValueCopy = popValue->addAction(QStringLiteral("Cop&y Value to Clipboard"));
  popValueCopy->setObjectName(QStringLiteral("popValueCopy"));
  connect(popValueCopy, &QAction::triggered, this,
          [this] { Run(&TMainWindow::popValueCopyClick); });
  popValue->addSeparator();
  popValueCancel = popValue->addAction(QStringLiteral("&Cancel"));
  popValueCancel->setObjectName(QStringLiteral("popValueCancel"));
  connect(popValue, &QMenu::aboutToShow, this, [this] { Run(&TMainWindow::popValuePopup); });
}

void TMainWindow::BuildToolBar() {
  QToolBar* bar = addToolBar(QStringLiteral("ToolBar"));
  bar->setObjectName(QStringLiteral("ToolBar"));
  bar->setMovable(false);
  bar->setFloatable(false);
  bar->setIconSize(QSize(16, 16));
  bar->setContextMenuPolicy(Qt::PreventContextMenu);
  auto button = [this, bar](const char* name, const char* hint, int image, bool toggle,
                            void (TMainWindow::*handler)()) {
    auto* tool = new QToolButton(bar);
    tool->setObjectName(QString::fromLatin1(name));
    tool->setToolTip(QString::fromLatin1(hint));
    tool->setIcon(QIcon(imlToolbarButtons->Pixmap(image)));
    tool->setIconSize(QSize(16, 16));
    tool->setFixedSize(24, 23);
    tool->setAutoRaise(true);
    tool->setCheckable(toggle);
    tool->setFocusPolicy(Qt::NoFocus);
    connect(tool, &QToolButton::clicked, this, [this, handler] { Run(handler); });
    bar->addWidget(tool);
    return tool;
  };
  auto separator = [bar](const char* name, int width) {
    QWidget* gap = bar->widgetForAction(bar->addSeparator());
    if (gap) {
      gap->setObjectName(QString::fromLatin1(name));
      gap->setFixedWidth(width);
    }
  };
  tolRefresh = button("tolRefresh", "Refresh", 0, false, &TMainWindow::tolRefreshClick);
  tolConnect = button("tolConnect", "Connect other PC", 9, false, &TMainWindow::tolConnectClick);
  separator("ToolButton2", 10);
  tolInfo = button("tolInfo", "Information", 8, false, &TMainWindow::tolInfoClick);
  tolTestObject =
      button("tolTestObject", "Test Object", 6, false, &TMainWindow::tolTestObjectClick);
  separator("ToolButton7", 8);
  tolShowUnknown = button("tolShowUnknown", "Show/hide unknown items", 1, true,
                          &TMainWindow::tolShowUnknownClick);
  tolFindings =
      button("tolFindings", "Show only findings", 7, true, &TMainWindow::tolFindingsClick);
  separator("ToolButton3", 8);
  tolViewBigIcons =
      button("tolViewBigIcons", "Large Icons", 2, true, &TMainWindow::tolViewBigIconsClick);
  tolViewSmallIcons =
      button("tolViewSmallIcons", "Small Icons", 3, true, &TMainWindow::tolViewSmallIconsClick);
  tolViewList = button("tolViewList", "List", 4, true, &TMainWindow::tolViewListClick);
  tolViewDetailed =
      button("tolViewDetailed", "Details", 5, true, &TMainWindow::tolViewDetailedClick);
  tolViewDetailed->setChecked(true);
}

void TMainWindow::BuildPanes() {
  panClient_ = new TPanel(this);
  panClient_->setObjectName(QStringLiteral("panClient"));
  setCentralWidget(panClient_);

  panLeft = new QWidget(panClient_);
  panLeft->setObjectName(QStringLiteral("panLeft"));
  auto* leftLayout = new QVBoxLayout(panLeft);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  TreeViewObjects = new TObjectTreeView(imlTreeViewImages, panLeft);
  leftLayout->addWidget(TreeViewObjects);
  TreeViewObjects->selectionHandler = [this](TreeNode node) {
    try {
      TreeViewObjectsChange(node);
    } catch (const std::exception& e) {
      ErrorMessage(e.what());
    }
  };

  SplitterLeft = new TSplitterBar(panClient_);
  SplitterLeft->setObjectName(QStringLiteral("SplitterLeft"));
  SplitterRight = new TSplitterBar(panClient_);
  SplitterRight->setObjectName(QStringLiteral("SplitterRight"));

  panRight = new QWidget(panClient_);
  panRight->setObjectName(QStringLiteral("panRight"));
  auto* rightLayout = new QHBoxLayout(panRight);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  rightLayout->setSpacing(0);
  panRightLeft = new TPanel(panRight);
  panRightLeft->setObjectName(QStringLiteral("panRightLeft"));
  panRightRight = new QWidget(panRight);
  panRightRight->setObjectName(QStringLiteral("panRightRight"));
  panRightRight->setFixedWidth(2);
  rightLayout->addWidget(panRightLeft, 1);
  rightLayout->addWidget(panRightRight);

  panListView = new QWidget(panRightLeft);
  panListView->setObjectName(QStringLiteral("panListView"));
  auto* listLayout = new QVBoxLayout(panListView);
  listLayout->setContentsMargins(0, 0, 0, 0);
  ListViewValues =
      new TAttributeListView(imlListViewImagesSMALL, imlListViewImagesBIG, panListView);
  listLayout->addWidget(ListViewValues);
  connect(ListViewValues, &TAttributeListView::itemStateChanged, this,
          [this](int row) { ListViewValuesChange(row); });
  connect(ListViewValues, &TAttributeListView::exited, this,
          [this] { Run(&TMainWindow::ListViewValuesExit); });
  connect(ListViewValues, &TAttributeListView::pointerMoved, this,
          [this] { ListViewValuesMouseMove(); });
  connect(ListViewValues, &TAttributeListView::popupRequested, this,
          [this](const QPoint& position) { popValue->popup(position); });

  auto* box = new QFrame(panRightLeft);
  panDescription = box;
  box->setObjectName(QStringLiteral("panDescription"));
  box->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  box->setLineWidth(1);
  auto* boxLayout = new QVBoxLayout(box);
  boxLayout->setContentsMargins(1, 1, 1, 1);
  boxLayout->setSpacing(0);
  staDescriptionHeading = new QLabel(QString::fromLatin1(kHeading), box);
  staDescriptionHeading->setObjectName(QStringLiteral("staDescriptionHeading"));
  staDescriptionHeading->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  staDescriptionHeading->setBackgroundRole(QPalette::Button);
  staDescriptionHeading->setAutoFillBackground(true);
  boxLayout->addWidget(staDescriptionHeading);
  auto* rule = new QFrame(box);
  rule->setObjectName(QStringLiteral("GroupBox1"));
  rule->setFrameStyle(QFrame::HLine | QFrame::Sunken);
  rule->setFixedHeight(7);
  boxLayout->addWidget(rule);
  auto* textRow = new QHBoxLayout;
  textRow->setSpacing(0);
  auto* margin = new QWidget(box);
  margin->setObjectName(QStringLiteral("panDescriptionSeperator"));
  margin->setFixedWidth(8);
  textRow->addWidget(margin);
  staDescription = new QPlainTextEdit(box);
  staDescription->setObjectName(QStringLiteral("staDescription"));
  staDescription->setReadOnly(true);
  staDescription->setFrameShape(QFrame::NoFrame);
  staDescription->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  staDescription->setTabChangesFocus(true);
  QPalette face = staDescription->palette();
  face.setColor(QPalette::Base, face.color(QPalette::Button));
  staDescription->setPalette(face);
  staDescription->setPlainText(QString::fromLatin1(kNothingSelected));
  textRow->addWidget(staDescription, 1);
  boxLayout->addLayout(textRow, 1);
  auto* bottom = new QWidget(box);
  bottom->setObjectName(QStringLiteral("panDescriptionBottom"));
  bottom->setFixedHeight(1);
  bottom->setBackgroundRole(QPalette::HighlightedText);
  bottom->setAutoFillBackground(true);
  boxLayout->addWidget(bottom);

  panClient_->onResize = [this] { FormResize(); };
  panRightLeft->onResize = [this] { panRightResize(); };
  SplitterLeft->onDrag = [this](int moved) {
    const int before = leftWidth_;
    const int most = std::max(1, panClient_->width() - kSplitters - 1);
    leftWidth_ = std::clamp(leftWidth_ + moved, 1, most);
    SplitterLeftMoved();
    return leftWidth_ - before;
  };
  SplitterRight->onDrag = [this](int moved) {
    const int before = rightWidth_;
    const int most = std::max(1, panClient_->width() - kSplitters - 1);
    rightWidth_ = std::clamp(rightWidth_ - moved, 1, most);
    SplitterRightMoved();
    return before - rightWidth_;
  };
}

void TMainWindow::FormCreate() {
  CatalogueWindows windows;
  windows.registry = &registry_;
  windows.progress = progress_;
  windows.tree = TreeViewObjects;
  windows.list = ListViewValues;
  windows.smallImages = imlListViewImagesSMALL;
  windows.largeImages = imlListViewImagesBIG;
  catalogue_ = std::make_unique<TCOLESettings>(std::move(windows));
  findings_ = std::make_unique<ReadingFindings>();
  catalogue_->DescribeFurther = [this](platform::RegistryApi& registry, platform::HKey root) {
    findings_->Describe(*catalogue_, registry, root, profile_);
  };
  progress_->cancelHandler = [this] { catalogue_->btnCancelClick(); };

  UpdateTitle();
  HelpFile = ManualPath();
  IgnoreListChanges = false;
  IgnoreTreeChanges = false;
  LastDescribedItem.clear();
  if (FontInstalled("Tahoma")) {
    QFont tahoma = font();
    tahoma.setFamily(QStringLiteral("Tahoma"));
    setFont(tahoma);
  }
  QFont bold = staDescriptionHeading->font();
  bold.setBold(true);
  staDescriptionHeading->setFont(bold);
  staDescriptionHeading->setFixedHeight(
      std::max(13, QFontMetrics(staDescriptionHeading->font()).height() + 2));
  LoadViewSettings();
  mnuViewDescription->setChecked(!mnuViewDescription->isChecked());
  mnuViewDescriptionClick();
}

void TMainWindow::FormCloseQuery() {
  IgnoreListChanges = true;
  IgnoreTreeChanges = true;
}

void TMainWindow::FormDestroy() {
  SaveViewSettings();
  catalogue_.reset();
}

void TMainWindow::LoadViewSettings() {
  TRegIniFile settings(registry_, kProgramKey);
  FirstStart = settings.ReadFlag("General", "First Start", true);
  settings.WriteFlag("General", "First Start", false);
  ListViewValues->SetColumnWidth(0, settings.ReadNumber("View", "Name Width", 150));
  ListViewValues->SetColumnWidth(1, settings.ReadNumber("View", "Value Width", 190));
  NameColumnWidth = ListViewValues->ColumnWidth(0);
  ValueColumnWidth = ListViewValues->ColumnWidth(1);
  leftWidth_ =
      UsableWidth(settings.ReadNumber("View", "Objects Width", kObjectsWidth), kObjectsWidth);
  rightWidth_ =
      UsableWidth(settings.ReadNumber("View", "Details Width", kDetailsWidth), kDetailsWidth);
  LayoutPanes();
  mnuViewDescription->setChecked(settings.ReadFlag("View", "Show Description", true));
  tolShowUnknown->setChecked(settings.ReadFlag("View", "Hide Unknown", false));
  mnuViewApplyLogs->setChecked(settings.ReadFlag("View", "Apply Logs", true));
  platform::SetSystemImageOptions(
      {mnuViewApplyLogs->isChecked() ? platform::HiveLogs::Apply : platform::HiveLogs::Ignore});
  switch (settings.ReadNumber("View", "View Style", 4)) {
    case 1:
      mnuViewLargeIconsClick();
      break;
    case 2:
      mnuViewSmallIconsClick();
      break;
    case 3:
      mnuViewListClick();
      break;
    default:
      mnuViewDetailsClick();
      break;
  }
}

void TMainWindow::SaveViewSettings() {
  TRegIniFile settings(registry_, kProgramKey);
  settings.WriteNumber("View", "Name Width", NameColumnWidth);
  settings.WriteNumber("View", "Value Width", ValueColumnWidth);
  settings.WriteNumber("View", "Objects Width", UsableWidth(leftWidth_, kObjectsWidth));
  settings.WriteNumber("View", "Details Width", UsableWidth(rightWidth_, kDetailsWidth));
  settings.WriteFlag("View", "Show Description", mnuViewDescription->isChecked());
  settings.WriteFlag("View", "Hide Unknown", tolShowUnknown->isChecked());
  int style = 4;
  switch (ListViewValues->Style()) {
    case ViewStyle::LargeIcons:
      style = 1;
      break;
    case ViewStyle::SmallIcons:
      style = 2;
      break;
    case ViewStyle::List:
      style = 3;
      break;
    case ViewStyle::Details:
      style = 4;
      break;
  }
  settings.WriteNumber("View", "View Style", style);
  settings.WriteFlag("View", "Apply Logs", mnuViewApplyLogs->isChecked());
}

void TMainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!event->spontaneous()) Run(&TMainWindow::FormShow);
}

void TMainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && !activated_) {
    // Only the first activation counts; the question waits until the
    // activation itself is over.
    activated_ = true;
    QTimer::singleShot(0, this, [this] { Run(&TMainWindow::FormActivate); });
  }
}

void TMainWindow::closeEvent(QCloseEvent* event) {
  FormCloseQuery();
  event->accept();
}

void TMainWindow::FormShow() {
  setWindowTitle(ApplicationTitle().isEmpty() ? QString::fromLatin1(kTitle) : ApplicationTitle());
  ShowDescription(kHeading, kNothingSelected);
  // A tree width that leaves the list less than the one pixel a splitter
  // leaves it would hide the list: it gives way to the design's, or to the
  // widest that fits when even that does not.
  const int widest = panClient_->width() - kSplitters - 1;
  if (leftWidth_ > widest) leftWidth_ = std::clamp(kObjectsWidth, 1, std::max(1, widest));
  FormResize();
}

void TMainWindow::OpenAtStart(const std::string& image, const ViewChoice& choice) {
  startImage_ = image;
  choice_ = choice;
  startPending_ = !image.empty() || !choice.userClasses.empty();
}

void TMainWindow::ConnectAtStart() {
  const std::string name = startImage_;
  startImage_.clear();
  startPending_ = false;
  // Remembered as a confirmation in the selector would remember it.
  std::vector<std::string> entries;
  if (!name.empty()) {
    try {
      ReadRememberedComputers(registry_, entries);
      RememberFirst(entries, name);
      WriteRememberedComputers(registry_, entries);
      WriteRememberedView(registry_, name,
                          {choice_.userClasses, choice_.userName, choice_.view});
    } catch (const ERegistryException& error) {
      ErrorMessage(error.what());
    }
  }
  catalogue_->RequestedComputer = name;
  mnuViewRefreshClick();
}

void TMainWindow::PrepareView() {
  catalogue_->UserView.reset();
  catalogue_->UserLabel.clear();
  catalogue_->ClassList = choice_.view == "32" ? kClassList32 : kClassList64;
  catalogue_->SecondClassList = choice_.view == "both" ? kClassList32 : "";
  profile_ = {};
  if (choice_.userClasses.empty()) return;
  std::string error;
  const auto logs =
      mnuViewApplyLogs->isChecked() ? platform::HiveLogs::Apply : platform::HiveLogs::Ignore;
  auto user = OpenUserClasses(choice_.userClasses, error, logs);
  if (!user) {
    ErrorMessage("The user's classes cannot be read: " + error +
                 "\n\nThe classes of the computer are shown alone.");
    return;
  }
  profile_.name = choice_.userName;
  profile_.variables = ProfileVariables(*user->store);
  // A computer that cannot be read is left to the reading, which asks
  // what to do about it.
  auto view = UserClassView::Open(registry_, catalogue_->RequestedComputer, std::move(*user), error);
  if (!view) return;
  catalogue_->UserView = std::move(view);
  catalogue_->UserLabel = choice_.userName.empty() ? choice_.userClasses : choice_.userName;
}

std::string TMainWindow::DoneText() const {
  // The machine's hive and the user's, when either is one.
  std::uint32_t applied = 0;
  bool rejected = false;
  for (const platform::LogRecovery* recovery : RecoveriesOf(*catalogue_)) {
    applied += recovery->applied;
    rejected = rejected || !recovery->rejected.empty();
  }
  if (rejected) {
    return "Done - transaction logs rejected in part, see \"File\" -> \"Information\"";
  }
  if (applied > 0) {
    return "Done - transaction logs applied (" + std::to_string(applied) +
           " entries); \"View\" -> \"Apply Transaction Logs\" reads the hive as stored";
  }
  if (!catalogue_->Notice.empty() && !mnuViewApplyLogs->isChecked()) {
    return "Done - the hive is read as stored, without its transaction logs";
  }
  if (const int found = findings_->EntriesWithFindings(); found > 0) {
    return "Done - " + std::to_string(found) +
           " objects with findings; \"View\" -> \"Show Only Findings\" lists them";
  }
  return kDone;
}

void TMainWindow::FormActivate() {
  if (startPending_) {
    ConnectAtStart();
    return;
  }
  if (!FirstStart) return;
  if (ConfirmMessage(
          "Welcome to Vell Orbel! Would you like to read the COM information right now?\n\n"
          "(Note: This message will only appear at the first start of this program. After "
          "that, you can simply read the COM information by selecting \"View\" - \"Refresh\" "
          "from the menu).")) {
    mnuViewRefreshClick();
  }
}

void TMainWindow::UpdateTitle() {
  const std::string& computer = catalogue_->ViewedComputer;
  std::string title =
      computer.empty() ? kTitle : ReplaceParam("Vell Orbel - Viewing Computer \"%1\"", computer);
  if (!computer.empty() && catalogue_->UserView) title += " (user " + catalogue_->UserLabel + ")";
  if (Q(title) != windowTitle()) {
    setWindowTitle(Q(title));
    SetApplicationTitle(Q(title));
  }
}

void TMainWindow::SetStatusText(const std::string& text) {
  statusText_->setText(Q(text));
  statusText_->repaint();
}

void TMainWindow::ShowDescription(const std::string& heading, const std::string& text) {
  staDescriptionHeading->setText(Q(heading));
  staDescription->setPlainText(Q(text));
}

void TMainWindow::LayoutPanes() {
  const int width = panClient_->width();
  const int height = panClient_->height();
  panLeft->setGeometry(0, 0, std::max(0, leftWidth_), height);
  SplitterLeft->setGeometry(leftWidth_, 0, 3, height);
  panRight->setGeometry(width - rightWidth_, 0, std::max(0, rightWidth_), height);
  SplitterRight->setGeometry(width - rightWidth_ - 3, 0, 3, height);
}

void TMainWindow::FormResize() { SplitterLeftMoved(); }

void TMainWindow::SplitterLeftMoved() {
  rightWidth_ = std::max(0, panClient_->width() - leftWidth_ - kSplitters);
  LayoutPanes();
  ListViewValues->ArrangeIcons();
}

void TMainWindow::SplitterRightMoved() {
  leftWidth_ = std::max(0, panClient_->width() - rightWidth_ - kSplitters);
  LayoutPanes();
  ListViewValues->ArrangeIcons();
}

void TMainWindow::LayoutRightPane() {
  const int width = panRightLeft->width();
  const int height = panRightLeft->height();
  if (descriptionShown_) {
    panListView->setGeometry(0, 0, width, std::max(0, listHeight_));
    panDescription->setGeometry(0, height - descriptionHeight_, width, descriptionHeight_);
  } else {
    panListView->setGeometry(0, 0, width, height);
  }
}

void TMainWindow::panRightResize() {
  if (descriptionShown_) listHeight_ = (panRightLeft->height() - descriptionHeight_) - 5;
  LayoutRightPane();
}

void TMainWindow::mnuViewDescriptionClick() {
  mnuViewDescription->setChecked(!mnuViewDescription->isChecked());
  if (mnuViewDescription->isChecked()) {
    listHeight_ = panListView->height() - 74;
    descriptionHeight_ = 70;
    descriptionShown_ = true;
    panDescription->show();
  } else {
    panDescription->hide();
    descriptionHeight_ = 0;
    descriptionShown_ = false;
  }
  LayoutRightPane();
}

void TMainWindow::ReleaseViewButtons() {
  for (QToolButton* button : {tolViewBigIcons, tolViewSmallIcons, tolViewList, tolViewDetailed}) {
    button->setChecked(false);
  }
}

void TMainWindow::mnuViewLargeIconsClick() {
  ReleaseViewButtons();
  ListViewValues->SetViewStyle(ViewStyle::LargeIcons);
  tolViewBigIcons->setChecked(true);
  mnuViewLargeIcons->setChecked(true);
}

void TMainWindow::mnuViewSmallIconsClick() {
  ReleaseViewButtons();
  ListViewValues->SetViewStyle(ViewStyle::SmallIcons);
  tolViewSmallIcons->setChecked(true);
  mnuViewSmallIcons->setChecked(true);
}

void TMainWindow::mnuViewListClick() {
  ReleaseViewButtons();
  ListViewValues->SetViewStyle(ViewStyle::List);
  tolViewList->setChecked(true);
  mnuViewList->setChecked(true);
}

void TMainWindow::mnuViewDetailsClick() {
  ReleaseViewButtons();
  ListViewValues->SetViewStyle(ViewStyle::Details);
  tolViewDetailed->setChecked(true);
  mnuViewDetails->setChecked(true);
}

void TMainWindow::mnuViewRefreshClick() {
  // Input queued while a reading ends (F5, a click on Refresh) must not
  // start a new reading inside it.
  if (reading_) return;
  reading_ = true;
  SetStatusText(kLoading);
  ListViewValuesExit();
  IgnoreListChanges = true;
  IgnoreTreeChanges = true;
  try {
    findings_->Clear();
    PrepareView();
    catalogue_->LoadCatalogue();
  } catch (...) {
    // The reading ended early; the window stays usable with what was read.
    UpdateTitle();
    SetStatusText(kDone);
    IgnoreTreeChanges = false;
    IgnoreListChanges = false;
    reading_ = false;
    throw;
  }
  UpdateTitle();
  if (mnuViewFindings->isChecked()) OpenFindingGroups();
  SetStatusText(DoneText());
  IgnoreTreeChanges = false;
  IgnoreListChanges = false;
  reading_ = false;
  // A problem of this computer's registry is the loader's to note and ours
  // to tell, also when this computer was read after another one refused;
  // a refusal that the user declined has had its question already.
  const bool thisComputerRead =
      catalogue_->RequestedComputer.empty() && !catalogue_->ViewedComputer.empty();
  if (thisComputerRead && !catalogue_->ReadProblem.empty()) ErrorMessage(catalogue_->ReadProblem);
}

void TMainWindow::mnuViewClearClick() {
  if (reading_) return;
  BusyCursor();
  IgnoreListChanges = true;
  IgnoreTreeChanges = true;
  ListViewValuesExit();
  catalogue_->ResetCatalogue();
  findings_->Clear();
  // The view goes with the computer.
  choice_ = {};
  catalogue_->UserView.reset();
  catalogue_->UserLabel.clear();
  UpdateTitle();
  SetStatusText(kDone);
  IgnoreTreeChanges = false;
  IgnoreListChanges = false;
  NormalCursor();
}

void TMainWindow::mnuFileConnectClick() {
  if (reading_) return;
  PumpMessages();
  if (WindowsPlatform() != 2) {
    ErrorMessage("The \"Connect\" feature is available only on Windows NT.");
    return;
  }
  TPCSelector selector(registry_, this);
  if (selector.exec() == QDialog::Accepted) {
    catalogue_->RequestedComputer = selector.SelectedComputer;
    choice_ = {selector.SelectedUserClasses, selector.SelectedUserName, selector.SelectedView};
    mnuViewRefreshClick();
  }
}

void TMainWindow::mnuFileTestObjectClick() {
  if (reading_) return;
  PumpMessages();
  const TreeNode node = TreeViewObjects->Selected();
  COLEObject* entry = node ? TreeViewObjects->Data(node) : nullptr;
  if (entry) {
    // The test lets window messages run while a helper works: a Refresh,
    // Clear or Connect queued meanwhile must not free the entry under it.
    reading_ = true;
    try {
      entry->TestCreate();
    } catch (...) {
      reading_ = false;
      throw;
    }
    reading_ = false;
  } else {
    ErrorMessage(
        "You have to select an object before you can use this function.\n\n"
        "Please select an object and try again.");
  }
}

void TMainWindow::mnuFileInformationClick() {
  std::string text = catalogue_->InformationText();
  // A reading in a view of its own adds its counts; one of a hive whose
  // logs gave anything, the way to the hive as stored.
  if (!catalogue_->Entries.empty() || !catalogue_->Notice.empty()) {
    if (const std::string view = catalogue_->ViewSummaryText(); !view.empty()) {
      text += "\n" + view;
    }
    const auto recoveries = RecoveriesOf(*catalogue_);
    if (std::any_of(recoveries.begin(), recoveries.end(), [](const auto* recovery) {
          return recovery->applied > 0 || !recovery->rejected.empty();
        })) {
      text +=
          "\nTo see the hive as it is stored, without its transaction logs, clear \"View\" -> "
          "\"Apply Transaction Logs\".\n";
    }
    if (const std::string found = findings_->SummaryText(); !found.empty()) {
      text += "\n" + found;
    }
  }
  InfoMessage(text);
}

void TMainWindow::mnuFileExitClick() { close(); }

void TMainWindow::mnuFileFindClick() {
  FindDialog->show();
  FindDialog->raise();
  FindDialog->activateWindow();
}

void TMainWindow::FindDialogFind() {
  IgnoreListChanges = true;
  const bool matchCase = FindDialog->MatchCase();
  const bool wholeValue = FindDialog->WholeWord();
  FindDialog->close();
  const std::string text = FindDialog->FindText().toStdString();
  catalogue_->Find(text, matchCase, wholeValue);
  IgnoreListChanges = false;
}

void TMainWindow::mnuFileFindNextClick() {
  IgnoreListChanges = true;
  catalogue_->FindNext();
  IgnoreListChanges = false;
}

void TMainWindow::tolShowUnknownClick() {
  const TreeNode node = TreeViewObjects->Selected();
  if (!node) return;
  try {
    TreeViewObjectsChange(node);
  } catch (...) {
    // Re-listing is a convenience; the list keeps what it could show.
  }
}

void TMainWindow::mnuViewFindingsClick() {
  tolFindings->setChecked(mnuViewFindings->isChecked());
  ShowOnlyFindings(mnuViewFindings->isChecked());
}

void TMainWindow::tolFindingsClick() {
  mnuViewFindings->setChecked(tolFindings->isChecked());
  ShowOnlyFindings(tolFindings->isChecked());
}

void TMainWindow::OpenFindingGroups() {
  if (TreeViewObjects->topLevelItemCount() == 0) return;
  QTreeWidgetItem* root = TreeViewObjects->topLevelItem(0);
  for (int i = 0; i < root->childCount(); ++i) {
    if (root->child(i)->childCount() > 0) root->child(i)->setExpanded(true);
  }
}

void TMainWindow::ShowOnlyFindings(bool only) {
  if (reading_) return;
  const TreeNode selected = TreeViewObjects->Selected();
  const COLEObject* entry = selected ? TreeViewObjects->Data(selected) : nullptr;
  catalogue_->TreeFilter = nullptr;
  if (only) {
    catalogue_->TreeFilter = [](const COLEObject&, const ClassExtras* extras) {
      return extras && (extras->badges & BadgeFinding) != 0;
    };
  }
  IgnoreListChanges = true;
  IgnoreTreeChanges = true;
  ListViewValuesExit();
  extraHelps_.clear();
  catalogue_->RefillTree();
  if (only) OpenFindingGroups();
  IgnoreTreeChanges = false;
  IgnoreListChanges = false;
  for (TreeNode node = TreeViewObjects->First(); entry && node;
       node = TreeViewObjects->Next(node)) {
    if (TreeViewObjects->Data(node) == entry) {
      TreeViewObjects->MakeVisibleAndSelect(node);
      break;
    }
  }
  if (!only) {
    SetStatusText(kDone);
  } else if (!findings_->Looked()) {
    SetStatusText(
        "No findings: they are looked for in the files of a Wine prefix or a Windows volume, "
        "and the registry read has none");
  } else {
    SetStatusText(std::to_string(findings_->EntriesWithFindings()) + " objects with findings");
  }
}

void TMainWindow::TreeViewObjectsChange(TreeNode node) {
  if (IgnoreTreeChanges) return;
  PumpMessages();
  SetStatusText(kLoading);
  IgnoreListChanges = true;
  extraHelps_.clear();
  COLEObject* entry = node ? TreeViewObjects->Data(node) : nullptr;
  if (!node || TreeViewObjects->Level(node) < 2 || !entry) {
    ListViewValues->BeginUpdate();
    ListViewValues->DeleteAllRows();
    ListViewValues->EndUpdate();
    ListViewValues->SetHint(QString());
  } else {
    entry->HideUnknown = tolShowUnknown->isChecked();
    try {
      entry->FillValueList();
      extraHelps_ = catalogue_->AppendExtraRows(*entry, entry->HideUnknown);
    } catch (...) {
      // The rows added so far stay; the window stays usable.
    }
  }
  ListViewValuesExit();
  LastDescribedItem.clear();
  IgnoreListChanges = false;
  SetStatusText(kDone);
}

void TMainWindow::ListViewValuesExit() {
  IgnoreListChanges = true;
  ListViewValues->DeselectAll();
  ListViewValues->SetHint(QString());
  LastDescribedItem.clear();
  IgnoreListChanges = false;
  ShowDescription(kHeading, kNothingSelected);
}

void TMainWindow::ListViewValuesChange(int row) {
  if (IgnoreListChanges) return;
  try {
    const TAttributeModel* model = ListViewValues->Model();
    if (row < 0 || row >= model->rowCount()) return;
    const std::string name = model->Caption(row).toStdString();
    if (name == LastDescribedItem) return;
    staDescriptionHeading->setText(Q(" Description: " + name));
    // The rows the catalogue added come last, each with its own help text.
    const int firstExtra = model->rowCount() - static_cast<int>(extraHelps_.size());
    staDescription->setPlainText(Q(row >= firstExtra
                                       ? extraHelps_[static_cast<std::size_t>(row - firstExtra)]
                                       : catalogue_->DescriptionFor(name)));
    ListViewValues->SetHint(model->Value(row));
    LastDescribedItem = name;
  } catch (...) {
    // Describing is a convenience; what was set stays.
  }
}

void TMainWindow::ListViewValuesMouseMove() {
  NameColumnWidth = ListViewValues->ColumnWidth(0);
  ValueColumnWidth = ListViewValues->ColumnWidth(1);
}

void TMainWindow::popValuePopup() {
  const QString& hint = ListViewValues->Hint();
  popValueCopy->setEnabled(!hint.isEmpty() && hint != QLatin1String(kUnknownValue));
}

void TMainWindow::popValueCopyClick() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  clipboard->setText(ListViewValues->Hint());
}

std::string TMainWindow::ManualPath() {
  const auto found = platform::FindDataFile(kManualName, ORBEL_SOURCE_DOCS_DIR);
  if (found.empty()) return {};
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(found, ec);
  return (ec ? found : absolute).lexically_normal().string();
}

void TMainWindow::mnuHelpContentsClick() {
  if (HelpFile.empty()) {
    ErrorMessage("The manual \"Orbel.html\" could not be found.");
    return;
  }
  OpenDocument(HelpFile);
}

void TMainWindow::mnuHelpOnHelpClick() {
  if (HelpFile.empty()) {
    ErrorMessage("The manual \"Orbel.html\" could not be found.");
    return;
  }
  OpenDocument(HelpFile + "#help-on-help");
}

void TMainWindow::mnuHelpWebClick() { OpenWebSite(); }

void TMainWindow::mnuHelpAboutClick() {
  auto about = std::make_unique<TAboutWindow>(this);
  about->SetProgramName("Orbel");
  about->SetProgramVersion("1.1");
  about->exec();
}

}  // namespace orbel
