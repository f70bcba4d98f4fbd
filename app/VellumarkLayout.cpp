// The layout of the main window: its controls in the order of the layout table, their places at
// the design size and how they follow the window's size, and the signals they are wired by.
#include "app/VellumarkMain.h"

#include "catalogue/SizeInfo.h"

#include "model/SetupChoices.h"
#include "platform/Dialogs.h"
#include "settings/Settings.h"
#include "settings/StoredPaths.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QTabWidget>
#include <QTextDocument>
#include <QUndoStack>
#include <QVBoxLayout>

namespace {

// Design size of the client area and the margins of the window.
constexpr int DesignWidth = 663;
constexpr int DesignHeight = 609;
constexpr int WindowMargin = 20;     // left, top and right; none at the bottom
constexpr int Layout1Height = 50;    // the strip along the bottom that holds Button2
// Stretched controls of the Setup tab: x 144, and as wide as ceBaseName at the design size.
constexpr int SetupLeft = 144;
constexpr int SetupDesignWidth = 401;

constexpr int SetupMargin = 10;      // room kept right of and below the Setup tab's controls

}  // namespace


const QString TfrmVellumark::IntroductionText = QStringLiteral(
    "Making the icon and launcher graphics for Android and iOS applications built with the Delphi IDE "
    "by hand is laborious work. Two platforms (iOS and Android), three device types (iPhone, iPad and "
    "Android) and %1 ratios of graphic sizes (1:1, 1.33:1 and so on) add up to %2 PNG files, each of "
    "them in its own exact size.\n"
    "\n"
    "Vellumark does that work for you. Give it a base image for each ratio, optionally mark which part "
    "of the image to use for that ratio, and generate the PNG files for iPhone, iPad and/or Android. "
    "Vellumark also writes the .optset files with which the IDE fills in its image entries: in the IDE, "
    "apply the option-set file to each configuration of your project.")
    .arg(SizeGroupCount)
    .arg(ClassicFileCount);

void TfrmVellumark::buildLayout() {
  setObjectName(QStringLiteral("frmVellumark"));
  setWindowTitle(QStringLiteral("Vellumark"));

  TabControl1 = new QTabWidget(this);
  TabControl1->setObjectName(QStringLiteral("TabControl1"));
  TabControl1->setTabPosition(QTabWidget::North);

  // Introduction
  tiIntro = new QWidget;
  tiIntro->setObjectName(QStringLiteral("tiIntro"));
  Memo1 = new QPlainTextEdit(tiIntro);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  Memo1->setWordWrapMode(QTextOption::WordWrap);
  QFont memoFont = Memo1->font();
  memoFont.setPointSize(14);
  Memo1->setFont(memoFont);
  Memo1->document()->setDocumentMargin(10);
  Memo1->setPlainText(IntroductionText);
  auto* introLayout = new QVBoxLayout(tiIntro);
  introLayout->setContentsMargins(0, 0, 0, 0);
  introLayout->addWidget(Memo1);
  // Where the pictures, selections and choices are kept: beside the program, or in the user's
  // configuration folder when the program's folder cannot be written.
  lblSettingsFile = new QLabel(tiIntro);
  lblSettingsFile->setObjectName(QStringLiteral("lblSettingsFile"));
  lblSettingsFile->setText(QStringLiteral("Settings file: ") + QDir::toNativeSeparators(FSettings.Path()));
  lblSettingsFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblSettingsFile->setContentsMargins(10, 4, 10, 6);
  lblSettingsFile->setWordWrap(true);
  introLayout->addWidget(lblSettingsFile);
  TabControl1->addTab(tiIntro, QStringLiteral("Introduction"));
  TabControl1->setTabToolTip(0, QStringLiteral("What Vellumark does, and the settings file in use"));
  Memo1->setToolTip(QStringLiteral("What Vellumark does"));
  lblSettingsFile->setToolTip(QStringLiteral("The file that keeps your pictures, selections and choices"));

  // Graphics: the ratio frames stack at the top of the scroll box, each as wide as the box.
  tiGraphics = new QWidget;
  tiGraphics->setObjectName(QStringLiteral("tiGraphics"));
  VertScrollBox1 = new QScrollArea(tiGraphics);
  VertScrollBox1->setObjectName(QStringLiteral("VertScrollBox1"));
  VertScrollBox1->setWidgetResizable(true);
  // Frames keep the width their controls need; a narrower tab scrolls sideways.
  VertScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  VertScrollBox1->setFrameShape(QFrame::NoFrame);
  FScrollContent = new QWidget;
  FScrollContent->setObjectName(QStringLiteral("VertScrollBox1Content"));
  auto* frameStack = new QVBoxLayout(FScrollContent);
  frameStack->setContentsMargins(0, 0, 0, 0);
  frameStack->setSpacing(0);
  frameStack->addStretch(1);
  VertScrollBox1->setWidget(FScrollContent);
  auto* graphicsLayout = new QVBoxLayout(tiGraphics);
  graphicsLayout->setContentsMargins(10, 10, 10, 10);
  // Undo and Redo of the pictures and selections, over the frames.
  FUndoStack = new QUndoStack(this);
  actUndo = new QAction(QStringLiteral("Undo"), this);
  actUndo->setObjectName(QStringLiteral("actUndo"));
  actUndo->setShortcuts(QKeySequence::Undo);
  actRedo = new QAction(QStringLiteral("Redo"), this);
  actRedo->setObjectName(QStringLiteral("actRedo"));
  actRedo->setShortcuts({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
  addAction(actUndo);
  addAction(actRedo);
  btnUndo = new QPushButton(QStringLiteral("Undo (Ctrl+Z)"), tiGraphics);
  btnUndo->setObjectName(QStringLiteral("btnUndo"));
  btnUndo->setToolTip(QStringLiteral("Undo the last change of a picture or a selection (Ctrl+Z)"));
  btnRedo = new QPushButton(QStringLiteral("Redo (Ctrl+Shift+Z)"), tiGraphics);
  btnRedo->setObjectName(QStringLiteral("btnRedo"));
  btnRedo->setToolTip(QStringLiteral("Redo the change undone last (Ctrl+Shift+Z or Ctrl+Y)"));
  for (auto [action, button] : {std::pair{actUndo, btnUndo}, std::pair{actRedo, btnRedo}}) {
    action->setEnabled(false);
    button->setEnabled(false);
    connect(action, &QAction::changed, button, [action, button] { button->setEnabled(action->isEnabled()); });
    connect(button, &QPushButton::clicked, action, &QAction::trigger);
  }
  connect(FUndoStack, &QUndoStack::canUndoChanged, this, [this] { UpdateUndoActions(); });
  connect(FUndoStack, &QUndoStack::canRedoChanged, this, [this] { UpdateUndoActions(); });
  connect(actUndo, &QAction::triggered, this, [this] {
    runEventHandler([this] {
      if (!FGenerating)
        FUndoStack->undo();
    });
  });
  connect(actRedo, &QAction::triggered, this, [this] {
    runEventHandler([this] {
      if (!FGenerating)
        FUndoStack->redo();
    });
  });
  auto* undoRow = new QHBoxLayout;
  undoRow->setContentsMargins(0, 0, 0, 0);
  undoRow->addWidget(btnUndo);
  undoRow->addWidget(btnRedo);
  undoRow->addStretch(1);
  graphicsLayout->addLayout(undoRow);
  graphicsLayout->addWidget(VertScrollBox1);
  TabControl1->addTab(tiGraphics, QStringLiteral("Graphics"));
  TabControl1->setTabToolTip(1, QStringLiteral("A picture and a selection for each ratio"));

  // Setup
  tiSetup = new QWidget;
  tiSetup->setObjectName(QStringLiteral("tiSetup"));
  ListBox1 = new QListWidget(tiSetup);
  ListBox1->setObjectName(QStringLiteral("ListBox1"));
  ListBoxGroupHeader1 = new QListWidgetItem(QStringLiteral("Output Devices"), ListBox1);
  ListBoxGroupHeader1->setFlags(Qt::ItemIsEnabled);
  QFont headerFont = ListBox1->font();
  headerFont.setBold(true);
  ListBoxGroupHeader1->setFont(headerFont);
  ListBoxGroupHeader1->setBackground(ListBox1->palette().alternateBase());
  auto deviceItem = [this](const QString& text) {
    auto* item = new QListWidgetItem(text, ListBox1);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    return item;
  };
  lbiiPhone = deviceItem(QStringLiteral("iPhone"));
  lbiiPad = deviceItem(QStringLiteral("iPad"));
  lbiAndroid = deviceItem(QStringLiteral("Android"));
  ListBox1->setCurrentItem(lbiAndroid);

  cbOptset = new QCheckBox(QStringLiteral("Generate .optset file(s)"), tiSetup);
  cbOptset->setObjectName(QStringLiteral("cbOptset"));
  cbOptset->setChecked(true);
  cbOptset->setToolTip(QStringLiteral("Also write the option-set files (.optset) that fill in the IDE's image "
                                      "entries"));
  ListBox1->setToolTip(QStringLiteral("The devices to make files for"));

  cbSmooth = new QCheckBox(QStringLiteral("Smooth downscaling (sharper small images)"), tiSetup);
  cbSmooth->setObjectName(QStringLiteral("cbSmooth"));
  cbSmooth->setToolTip(QStringLiteral("Make files smaller than their selection by averaging every pixel they cover"));
  cbAppStoreIcon = new QCheckBox(QStringLiteral("Also write the 1024 x 1024 App Store icon"), tiSetup);
  cbAppStoreIcon->setObjectName(QStringLiteral("cbAppStoreIcon"));
  cbAppStoreIcon->setToolTip(QStringLiteral("Also write the 1024 x 1024 App Store icon after the 1:1 files (the "
                                            "current file set always writes it)"));
  cbRelativePaths = new QCheckBox(QStringLiteral("Store paths relative to the settings file"), tiSetup);
  cbRelativePaths->setObjectName(QStringLiteral("cbRelativePaths"));
  cbRelativePaths->setToolTip(QStringLiteral("Keep the paths of files under the settings file's folder relative to "
                                             "it, so that the folder can be moved or shared"));

  buildFileChoices();

  Button1 = new QPushButton(QStringLiteral("Browse..."), tiSetup);
  Button1->setObjectName(QStringLiteral("Button1"));
  Button1->setToolTip(QStringLiteral("Choose the folder and the base name of the files"));

  OpenDialog1.Filter.clear();
  OpenDialog1.HideReadOnly = true;
  OpenDialog1.PathMustExist = true;
  OpenDialog1.FileMustExist = false;
  OpenDialog1.EnableSizing = true;

  ceBaseName = new QComboBox(tiSetup);
  ceBaseName->setObjectName(QStringLiteral("ceBaseName"));
  ceBaseName->setToolTip(QStringLiteral("The base file name: MyApp.png makes MyApp180x180.png and the others in its "
                                        "folder"));
  ceBaseName->setEditable(true);
  ceBaseName->setInsertPolicy(QComboBox::NoInsert);  // the list is the image history only
  ceBaseName->setCompleter(nullptr);                  // no inline completion while a path is typed
  ceBaseName->setCurrentIndex(-1);

  Label1 = new QLabel(QStringLiteral("Base Filename"), tiSetup);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  tiSetup->installEventFilter(this);
  TabControl1->addTab(tiSetup, QStringLiteral("Setup"));
  TabControl1->setTabToolTip(2, QStringLiteral("The base file name, the devices and the options"));

  // Generate
  tiGenerate = new QWidget;
  tiGenerate->setObjectName(QStringLiteral("tiGenerate"));
  mmOutput = new QPlainTextEdit(tiGenerate);
  mmOutput->setObjectName(QStringLiteral("mmOutput"));
  mmOutput->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* generateLayout = new QVBoxLayout(tiGenerate);
  generateLayout->setContentsMargins(20, 20, 20, 20);
  generateLayout->addWidget(mmOutput);
  // After a run, under its log's last line.
  btnOpenOutputFolder = new QPushButton(QStringLiteral("Open output folder"), tiGenerate);
  btnOpenOutputFolder->setObjectName(QStringLiteral("btnOpenOutputFolder"));
  btnOpenOutputFolder->setToolTip(QStringLiteral("Show the folder the run wrote into"));
  btnOpenOutputFolder->setVisible(false);
  generateLayout->addWidget(btnOpenOutputFolder, 0, Qt::AlignLeft);
  // A thin bar in the margin under the log, outside the layout: the log keeps its place and size
  // when a run shows the bar, so a log scrolled to its end keeps following the new lines.
  pbGenerate = new QProgressBar(tiGenerate);
  pbGenerate->setObjectName(QStringLiteral("pbGenerate"));
  pbGenerate->setRange(0, 1);
  pbGenerate->setValue(0);
  pbGenerate->setTextVisible(false);
  pbGenerate->setVisible(false);
  tiGenerate->installEventFilter(this);
  TabControl1->addTab(tiGenerate, QStringLiteral("Generate"));
  TabControl1->setTabToolTip(3, QStringLiteral("Check the setup and make the files"));
  mmOutput->setToolTip(QStringLiteral("The check of the setup and the log of the run"));

  // The strip along the bottom, with Button2 over it.
  Layout1 = new QWidget(this);
  Layout1->setObjectName(QStringLiteral("Layout1"));

  ActionList1 = new QObject(this);
  ActionList1->setObjectName(QStringLiteral("ActionList1"));
  actGenerate = new QAction(QStringLiteral("Generate"), ActionList1);
  actGenerate->setObjectName(QStringLiteral("actGenerate"));
  actGenerate->setEnabled(false);

  Button2 = new QPushButton(actGenerate->text(), this);
  Button2->setObjectName(QStringLiteral("Button2"));
  Button2->setToolTip(QStringLiteral("Make every file (once the check on the Generate tab has passed)"));
  Button2->setEnabled(actGenerate->isEnabled());
  Button2->raise();

  // Events. Button2 follows the action's text and enabled state and runs the action.
  connect(actGenerate, &QAction::changed, this, [this] {
    Button2->setEnabled(actGenerate->isEnabled());
    Button2->setText(actGenerate->text());
  });
  connect(Button2, &QPushButton::clicked, actGenerate, &QAction::trigger);
  connect(actGenerate, &QAction::triggered, this, [this] { runEventHandler([this] { actGenerateExecute(actGenerate); }); });
  connect(TabControl1, &QTabWidget::currentChanged, this,
          [this] { runEventHandler([this] { TabControl1Change(TabControl1); }); });
  connect(Button1, &QPushButton::clicked, this, [this] { runEventHandler([this] { Button1Click(Button1); }); });
  connect(ceBaseName, &QComboBox::editTextChanged, this,
          [this] { runEventHandler([this] { ceBaseNameChange(ceBaseName); }); });
  connect(ListBox1, &QListWidget::itemChanged, this,
          [this](QListWidgetItem* item) { runEventHandler([this, item] { DeviceChange(item); }); });
  connect(cbOptset, &QCheckBox::toggled, this, [this](bool checked) {
    runEventHandler([this, checked] { SetSetting(OptsetKey, checkedText(checked)); });
  });
  for (auto [box, key] : {std::pair{cbSmooth, SmoothDownscaleKey}, std::pair{cbAppStoreIcon, AppStoreIconKey}})
    connect(box, &QCheckBox::toggled, this, [this, key](bool checked) {
      runEventHandler([&] { SetSetting(key, checkedText(checked)); });
    });
  connect(cbAppStoreIcon, &QCheckBox::toggled, this, [this] { UpdateFrameOutputs(); });
  // Open previews follow the devices and the options that change what the run writes.
  for (QCheckBox* box : {cbSmooth, cbAppStoreIcon})
    connect(box, &QCheckBox::toggled, this, [this] { runEventHandler([this] { RefreshPreviews(); }); });
  connect(btnOpenOutputFolder, &QPushButton::clicked, this,
          [this] { runEventHandler([this] { ShowOutputFolderClick(); }); });
  connect(cbRelativePaths, &QCheckBox::toggled, this,
          [this](bool checked) { runEventHandler([&] { RelativePathsChange(checked); }); });
  connect(cbFileSet, &QComboBox::currentIndexChanged, this,
          [this](int index) { runEventHandler([&] { FileSetChange(index); }); });
  connect(seLaunchPoints, &QSpinBox::valueChanged, this,
          [this](int points) { runEventHandler([&] { LaunchPointsChange(points); }); });
  connect(edAppStoreBackground, &QLineEdit::editingFinished, this,
          [this] { runEventHandler([this] { AppStoreBackgroundChange(); }); });

  buildMenuBar();
  // The client area has the design size under the menu bar.
  resize(DesignWidth, DesignHeight + ClientTop());
  layOutSetupPage();
  updateMinimumSize();
}

void TfrmVellumark::buildFileChoices() {
  const auto label = [this](const QString& text, const char* name) {
    auto* l = new QLabel(text, tiSetup);
    l->setObjectName(QLatin1String(name));
    return l;
  };
  lblFileSet = label(QStringLiteral("File set"), "lblFileSet");
  lblFileSet->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  cbFileSet = new QComboBox(tiSetup);
  cbFileSet->setObjectName(QStringLiteral("cbFileSet"));
  cbFileSet->addItem(QStringLiteral("Classic launch images"), fileSetText(TFileSet::Classic));
  cbFileSet->addItem(QStringLiteral("Launch screen (current IDE versions)"), fileSetText(TFileSet::Current));
  cbFileSet->setToolTip(QStringLiteral("Which files and option-set properties a run makes: the fixed-size launch "
                                       "images of older IDE versions, or the launch screen, notification and App "
                                       "Store icons of the current ones"));
  lblFileSet->setBuddy(cbFileSet);

  lblLaunchPoints = label(QStringLiteral("Launch screen"), "lblLaunchPoints");
  lblLaunchPoints->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  seLaunchPoints = new QSpinBox(tiSetup);
  seLaunchPoints->setObjectName(QStringLiteral("seLaunchPoints"));
  seLaunchPoints->setRange(MinLaunchPoints, MaxLaunchPoints);
  seLaunchPoints->setValue(DefaultLaunchPoints);
  seLaunchPoints->setSuffix(QStringLiteral(" points"));
  seLaunchPoints->setToolTip(QStringLiteral("The launch screen's size in points: its files are 2x and 3x of it"));
  lblLaunchPoints->setBuddy(seLaunchPoints);
  lblLaunchPointsNote = label(QStringLiteral("square; its files are 2x and 3x of it"), "lblLaunchPointsNote");

  lblAppStoreBackground = label(QStringLiteral("App Store icon"), "lblAppStoreBackground");
  lblAppStoreBackground->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  edAppStoreBackground = new QLineEdit(tiSetup);
  edAppStoreBackground->setObjectName(QStringLiteral("edAppStoreBackground"));
  edAppStoreBackground->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("#[0-9A-Fa-f]{0,6}")), edAppStoreBackground));
  edAppStoreBackground->setText(QStringLiteral("#FFFFFF"));
  edAppStoreBackground->setToolTip(QStringLiteral("The colour the App Store icon's transparent parts are laid over "
                                                  "(#RRGGBB): the App Store refuses transparency"));
  lblAppStoreBackground->setBuddy(edAppStoreBackground);
  lblAppStoreBackgroundNote = label(QStringLiteral("background (#RRGGBB)"), "lblAppStoreBackgroundNote");
}

void TfrmVellumark::updateMinimumSize() {
  // The Setup tab's controls are placed by hand: its minimum covers ceBaseName, the widest control
  // that does not stretch, and the lowest control, with a margin. The other tabs scroll.
  int bottom = 0;
  for (const QWidget* child : tiSetup->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    bottom = std::max(bottom, child->geometry().bottom() + 1);
  tiSetup->setMinimumSize(SetupLeft + SetupDesignWidth + SetupMargin, bottom + SetupMargin);
  const QSize tabs = TabControl1->minimumSizeHint();
  setMinimumSize(tabs.width() + 2 * WindowMargin, ClientTop() + tabs.height() + WindowMargin + Layout1Height);
}

void TfrmVellumark::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int w = width();
  const int h = height();
  const int top = ClientTop();
  MenuBar1->setGeometry(0, 0, w, top);
  TabControl1->setGeometry(WindowMargin, top + WindowMargin, std::max(0, w - 2 * WindowMargin),
                           std::max(0, h - top - WindowMargin - Layout1Height));
  Layout1->setGeometry(WindowMargin, h - Layout1Height, std::max(0, w - 2 * WindowMargin), Layout1Height);
  // Bottom right, over Layout1: x 560, y 576 at the design size.
  Button2->setGeometry(w - (DesignWidth - 560), h - (DesignHeight - 576), 80, 22);
  layOutSetupPage();
}

bool TfrmVellumark::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tiSetup && event->type() == QEvent::Resize)
    layOutSetupPage();
  if (watched == tiGenerate && event->type() == QEvent::Resize)
    pbGenerate->setGeometry(20, tiGenerate->height() - 16, std::max(0, tiGenerate->width() - 40), 12);
  return QWidget::eventFilter(watched, event);
}

void TfrmVellumark::layOutSetupPage() {
  // Stretched controls widen with the window; the others keep their place.
  const int stretched = std::max(80, SetupDesignWidth + (width() - DesignWidth));
  ceBaseName->setGeometry(SetupLeft, 56, 401, 22);
  Label1->setGeometry(SetupLeft - 128, 56 + 5, 120, 17);
  Button1->setGeometry(SetupLeft, 80, 80, 22);
  ListBox1->setGeometry(SetupLeft, 120, stretched, 129);
  cbOptset->setGeometry(SetupLeft, 264, stretched, 19);
  cbSmooth->setGeometry(SetupLeft, 288, stretched, 19);
  cbAppStoreIcon->setGeometry(SetupLeft, 312, stretched, 19);
  cbRelativePaths->setGeometry(SetupLeft, 336, stretched, 19);
  lblFileSet->setGeometry(SetupLeft - 128, 368 + 3, 120, 17);
  cbFileSet->setGeometry(SetupLeft, 368, std::min(stretched, 300), 22);
  lblLaunchPoints->setGeometry(SetupLeft - 128, 396 + 3, 120, 17);
  seLaunchPoints->setGeometry(SetupLeft, 396, 110, 22);
  lblLaunchPointsNote->setGeometry(SetupLeft + 118, 396 + 3, std::max(0, stretched - 118), 17);
  lblAppStoreBackground->setGeometry(SetupLeft - 128, 424 + 3, 120, 17);
  edAppStoreBackground->setGeometry(SetupLeft, 424, 110, 22);
  lblAppStoreBackgroundNote->setGeometry(SetupLeft + 118, 424 + 3, std::max(0, stretched - 118), 17);
}
