#include "app/VellumarkMain.h"

#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"
#include "catalogue/SizeInfo.h"
#include "imaging/RenderImage.h"
#include "frames/FrameRatio.h"
#include "frames/PicturePrefetch.h"
#include "frames/PreviewWindow.h"
#include "frames/SelectionGeometry.h"
#include "platform/Errors.h"
#include "platform/PathRules.h"
#include "settings/Settings.h"
#include "settings/StoredPaths.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSignalBlocker>
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

const QString BaseFilenameKey = QStringLiteral("base_filename");
// The check boxes of the Setup tab remembered in section "settings": "1" checked, "0" not; a
// missing key leaves the box checked.
const QString AndroidKey = QStringLiteral("android");
const QString iPhoneKey = QStringLiteral("iphone");
const QString iPadKey = QStringLiteral("ipad");
const QString OptsetKey = QStringLiteral("optset");

QString checkedText(bool checked) { return checked ? QStringLiteral("1") : QStringLiteral("0"); }
const QString SmoothDownscaleKey = QStringLiteral("smooth_downscale");
const QString AppStoreIconKey = QStringLiteral("appstore_icon");

}  // namespace

const QString TfrmVellumark::IntroductionText = QStringLiteral(
    "Making the icon and launcher graphics for Android and iOS applications built with the Delphi IDE "
    "by hand is laborious work. Two platforms (iOS and Android), three device types (iPhone, iPad and "
    "Android) and 13 ratios of graphic sizes (1:1, 1.33:1 and so on) add up to 53 PNG files, each of "
    "them in its own exact size.\n"
    "\n"
    "Vellumark does that work for you. Give it a base image for each ratio, optionally mark which part "
    "of the image to use for that ratio, and generate the PNG files for iPhone, iPad and/or Android. "
    "Vellumark also writes the .optset files with which the IDE fills in its image entries: in the IDE, "
    "apply the option-set file to each configuration of your project.");

void appendHistoryItem(QComboBox* Combo, const QString& Item) {
  for (int i = 0; i < Combo->count(); ++i)
    if (Combo->itemText(i).compare(Item, Qt::CaseInsensitive) == 0)
      return;
  // Adding the first item to an empty list would make it the current item and so replace the
  // text; keep text and current item as they are, silently.
  const QSignalBlocker blockCombo(Combo);
  QLineEdit* edit = Combo->lineEdit();
  const QSignalBlocker blockEdit(edit);
  const QString text = Combo->currentText();
  const int current = Combo->currentIndex();
  Combo->addItem(Item);
  if (Combo->currentIndex() != current)
    Combo->setCurrentIndex(current);
  if (edit && edit->text() != text)
    edit->setText(text);
}

TfrmVellumark::TfrmVellumark(QWidget* parent) : QWidget(parent) {
  buildLayout();
  FormCreate(this);
}

TfrmVellumark::~TfrmVellumark() = default;

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
  lblSettingsFile->setText(QStringLiteral("Settings file: ") + QDir::toNativeSeparators(settingsFilePath()));
  lblSettingsFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblSettingsFile->setContentsMargins(10, 4, 10, 6);
  lblSettingsFile->setWordWrap(true);
  introLayout->addWidget(lblSettingsFile);
  TabControl1->addTab(tiIntro, QStringLiteral("Introduction"));

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

  cbSmooth = new QCheckBox(QStringLiteral("Smooth downscaling (sharper small images)"), tiSetup);
  cbSmooth->setObjectName(QStringLiteral("cbSmooth"));
  cbAppStoreIcon = new QCheckBox(QStringLiteral("Also write the 1024 x 1024 App Store icon"), tiSetup);
  cbAppStoreIcon->setObjectName(QStringLiteral("cbAppStoreIcon"));
  cbRelativePaths = new QCheckBox(QStringLiteral("Store paths relative to the settings file"), tiSetup);
  cbRelativePaths->setObjectName(QStringLiteral("cbRelativePaths"));

  Button1 = new QPushButton(QStringLiteral("Browse..."), tiSetup);
  Button1->setObjectName(QStringLiteral("Button1"));

  OpenDialog1.Filter.clear();
  OpenDialog1.HideReadOnly = true;
  OpenDialog1.PathMustExist = true;
  OpenDialog1.FileMustExist = false;
  OpenDialog1.EnableSizing = true;

  ceBaseName = new QComboBox(tiSetup);
  ceBaseName->setObjectName(QStringLiteral("ceBaseName"));
  ceBaseName->setEditable(true);
  ceBaseName->setInsertPolicy(QComboBox::NoInsert);  // the list is the image history only
  ceBaseName->setCompleter(nullptr);                  // no inline completion while a path is typed
  ceBaseName->setCurrentIndex(-1);

  Label1 = new QLabel(QStringLiteral("Base Filename"), tiSetup);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  tiSetup->installEventFilter(this);
  TabControl1->addTab(tiSetup, QStringLiteral("Setup"));

  // Generate
  tiGenerate = new QWidget;
  tiGenerate->setObjectName(QStringLiteral("tiGenerate"));
  mmOutput = new QPlainTextEdit(tiGenerate);
  mmOutput->setObjectName(QStringLiteral("mmOutput"));
  mmOutput->setLineWrapMode(QPlainTextEdit::NoWrap);
  auto* generateLayout = new QVBoxLayout(tiGenerate);
  generateLayout->setContentsMargins(20, 20, 20, 20);
  generateLayout->addWidget(mmOutput);
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
  connect(cbRelativePaths, &QCheckBox::toggled, this,
          [this](bool checked) { runEventHandler([&] { RelativePathsChange(checked); }); });

  resize(DesignWidth, DesignHeight);
  layOutSetupPage();
  updateMinimumSize();
}

void TfrmVellumark::updateMinimumSize() {
  // The Setup tab's controls are placed by hand: its minimum covers ceBaseName, the widest control
  // that does not stretch, and the lowest control, with a margin. The other tabs scroll.
  int bottom = 0;
  for (const QWidget* child : tiSetup->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    bottom = std::max(bottom, child->geometry().bottom() + 1);
  tiSetup->setMinimumSize(SetupLeft + SetupDesignWidth + SetupMargin, bottom + SetupMargin);
  const QSize tabs = TabControl1->minimumSizeHint();
  setMinimumSize(tabs.width() + 2 * WindowMargin, tabs.height() + WindowMargin + Layout1Height);
}

void TfrmVellumark::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int w = width();
  const int h = height();
  TabControl1->setGeometry(WindowMargin, WindowMargin, std::max(0, w - 2 * WindowMargin),
                           std::max(0, h - WindowMargin - Layout1Height));
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
}

void TfrmVellumark::showStartupError() {
  // One failure cause (an unreadable or unwritable settings file) makes every frame fail in the
  // same way; its message is shown once, not once per frame.
  const QString message = currentExceptionMessage();
  if (FStartupErrors.contains(message))
    return;
  FStartupErrors.append(message);
  ShowCurrentException();
}

// Start-up

void TfrmVellumark::FormCreate(QObject* Sender) {
  Q_UNUSED(Sender);
  TabControl1->setCurrentIndex(0);
  InitSizeInfos();
  CreateRatioFrames();
  QString baseName;
  try {
    // A relative name is shown as the full path it names beside the settings file.
    baseName = resolvedSettingPath(GetSetting(BaseFilenameKey));
  } catch (...) {
    showStartupError();
  }
  // Restoring the stored name is no change to persist.
  const QSignalBlocker block(ceBaseName);
  ceBaseName->setEditText(baseName);
  try {
    RestoreCheckBoxes();
  } catch (...) {
    showStartupError();
  }
  UpdateFrameOutputs();
}

void TfrmVellumark::UpdateFrameOutputs() {
  const bool android = IsChecked(lbiAndroid);
  const bool iPhone = IsChecked(lbiiPhone);
  const bool iPad = IsChecked(lbiiPad);
  for (TRatioFrame* frame : FRatioFrames) {
    QList<QSize> sizes;
    const int g = frame->Tag();
    if (g >= 0 && g < SizeGroupCount)
      for (const TSizeInfo& e : SizeGroups[g])
        if (servesCheckedDevice(e, android, iPhone, iPad))
          sizes.append(QSize(e.Width, e.Height));
    if (g == 0 && cbAppStoreIcon->isChecked() && (iPhone || iPad))
      sizes.append(QSize(AppStoreIconSize, AppStoreIconSize));
    frame->SetOutputs(sizes, iPhone || iPad);
  }
}

void TfrmVellumark::RestoreCheckBoxes() {
  // The devices and the option-set box are checked unless "0" is stored; the opt-in boxes are
  // checked only when "1" is stored.
  const auto checkedUnlessOff = [this](const QString& key) { return GetSetting(key) != QStringLiteral("0"); };
  const auto checkedWhenOn = [this](const QString& key) { return GetSetting(key) == QStringLiteral("1"); };
  // Restoring is no change to persist.
  const QSignalBlocker blockList(ListBox1);
  const QSignalBlocker blockOptset(cbOptset);
  const QSignalBlocker blockSmooth(cbSmooth);
  const QSignalBlocker blockAppStore(cbAppStoreIcon);
  const QSignalBlocker blockRelative(cbRelativePaths);
  lbiAndroid->setCheckState(checkedUnlessOff(AndroidKey) ? Qt::Checked : Qt::Unchecked);
  lbiiPhone->setCheckState(checkedUnlessOff(iPhoneKey) ? Qt::Checked : Qt::Unchecked);
  lbiiPad->setCheckState(checkedUnlessOff(iPadKey) ? Qt::Checked : Qt::Unchecked);
  cbOptset->setChecked(checkedUnlessOff(OptsetKey));
  cbSmooth->setChecked(checkedWhenOn(SmoothDownscaleKey));
  cbAppStoreIcon->setChecked(checkedWhenOn(AppStoreIconKey));
  cbRelativePaths->setChecked(checkedWhenOn(RelativePathsKey));
}

void TfrmVellumark::DeviceChange(QListWidgetItem* Item) {
  const QString key = Item == lbiAndroid ? AndroidKey
                      : Item == lbiiPhone ? iPhoneKey
                      : Item == lbiiPad   ? iPadKey
                                          : QString();
  UpdateFrameOutputs();
  RefreshPreviews();
  if (!key.isEmpty())
    SetSetting(key, checkedText(IsChecked(Item)));
}

void TfrmVellumark::InitSizeInfos() { ::InitSizeInfos(); }

void TfrmVellumark::CreateRatioFrames() {
  auto* stack = static_cast<QVBoxLayout*>(FScrollContent->layout());
  // The stored pictures are decoded on all cores first; the frames below take them in order.
  const auto prefetch = prefetchStoredPictures();
  for (int g = 0; g < SizeGroupCount; ++g) {
    const TSizeInfo& first = SizeGroups[g].constFirst();
    TRatioFrame* frame = nullptr;
    try {
      frame = new TRatioFrame(FScrollContent, first.Width, first.Height);
    } catch (...) {
      const QString reason = currentExceptionMessage();
      showStartupError();
      // The group still gets its frame, without the stored picture and selection and without
      // writing anything, so that every group has a frame and the user can choose again. The
      // stored entries stay as they are in the settings file; the stored picture name shows in
      // the frame, so that the user sees what is missing.
      frame = new TRatioFrame(FScrollContent, first.Width, first.Height, false);
      QString stored;
      try {
        stored = SettingsAccess::GetImageSetting(frame->SizeStr());
      } catch (...) {
        // An unreadable settings file has been reported above.
      }
      if (!stored.isEmpty())
        frame->ShowUnloadedFilename(stored, reason);
    }
    stack->insertWidget(stack->count() - 1, frame);  // above the closing stretch
    frame->OnChange = [this](QObject* changed) { RatioFrameChange(changed); };
    frame->OnPreview = [this, frame](QObject*) { PreviewFrame(frame); };
    frame->OnStateChange = [this](TRatioFrame* changed, const TFrameState& before, const TFrameState& after) {
      FUndoStack->push(new TFrameStateCommand(this, changed, before, after));
      RefreshPreviews(changed);
    };
    frame->SetTag(g);
    FRatioFrames.append(frame);
  }
}

void TfrmVellumark::UpdateUndoActions() {
  actUndo->setEnabled(FUndoStack->canUndo());
  actRedo->setEnabled(FUndoStack->canRedo());
}

TFrameStateCommand::TFrameStateCommand(TfrmVellumark* form, TRatioFrame* frame, const TFrameState& before,
                                       const TFrameState& after)
    : FForm(form), FFrame(frame), FBefore(before), FAfter(after) {}

void TFrameStateCommand::undo() { apply(FBefore); }

void TFrameStateCommand::redo() {
  // Pushed after the change was made and stored: the first redo has nothing to do.
  if (FDone) {
    FDone = false;
    return;
  }
  apply(FAfter);
}

void TFrameStateCommand::apply(const TFrameState& state) {
  FForm->TabControl1->setCurrentWidget(FForm->tiGraphics);
  FForm->VertScrollBox1->ensureWidgetVisible(FFrame);
  FFrame->ApplyState(state);
  FForm->RefreshPreviews(FFrame);
}

TRatioFrame* TfrmVellumark::FindRatioFrame(int Index) const {
  for (TRatioFrame* frame : FRatioFrames)
    if (frame->Tag() == Index)
      return frame;
  return nullptr;
}

void TfrmVellumark::RatioFrameChange(QObject* Sender) {
  const auto* changed = qobject_cast<TRatioFrame*>(Sender);
  if (!changed)
    return;
  const QString name = changed->Filename();
  for (TRatioFrame* frame : FRatioFrames)
    appendHistoryItem(frame->ceFilename, name);
  appendHistoryItem(ceBaseName, name);
}

// Preview of a group's outputs

QList<TPreviewItem> TfrmVellumark::PreviewItems(const TRatioFrame* Frame, QString& Message) const {
  Message.clear();
  if (Frame->Bitmap().IsEmpty() || Frame->Filename().isEmpty()) {
    Message = QStringLiteral("No picture: choose one with Browse... or drop a picture file on the frame.");
    return {};
  }
  if (Frame->SelectRect().IsEmpty()) {
    Message = QStringLiteral("The selection is empty: drag over the picture to select the region to use.");
    return {};
  }
  const bool android = IsChecked(lbiAndroid);
  const bool iPhone = IsChecked(lbiiPhone);
  const bool iPad = IsChecked(lbiiPad);
  QString stem = stemOf(ceBaseName->currentText());
  // Without a base name the tiles say where it goes.
  if (stem.isEmpty())
    stem = QStringLiteral("<base name>");
  const bool smooth = cbSmooth->isChecked();
  const TRectF zoom = Frame->ZoomRect();
  QList<TPreviewItem> items;
  // Rendered as the run renders the entry: the same renderer, selection and smooth setting.
  auto add = [&](int width, int height) {
    items.append({width, height, outputFileName(stem, width, height),
                  renderImage(Frame->Bitmap(), width, height, zoom, smooth).Image()});
  };
  const int g = Frame->Tag();
  if (g >= 0 && g < SizeGroupCount)
    for (const TSizeInfo& e : SizeGroups[g])
      if (servesCheckedDevice(e, android, iPhone, iPad))
        add(e.Width, e.Height);
  if (g == 0 && cbAppStoreIcon->isChecked() && (iPhone || iPad))
    add(AppStoreIconSize, AppStoreIconSize);
  return items;
}

TPreviewWindow* TfrmVellumark::PreviewFrame(TRatioFrame* Frame) {
  QString message;
  QList<TPreviewItem> items = PreviewItems(Frame, message);
  auto* window = new TPreviewWindow(Frame->Caption(), std::move(items), this, message);
  FPreviews.append({Frame, window});
  window->show();
  return window;
}

void TfrmVellumark::RefreshPreviews(const TRatioFrame* Frame) {
  // Closed windows delete themselves; their entries go.
  FPreviews.removeIf([](const OpenPreview& p) { return p.Window.isNull(); });
  for (const OpenPreview& p : FPreviews) {
    if (Frame && p.Frame != Frame)
      continue;
    QString message;
    QList<TPreviewItem> items = PreviewItems(p.Frame, message);
    p.Window->SetItems(std::move(items), message);
  }
}

// Base file name

void TfrmVellumark::Button1Click(QObject* Sender) {
  Q_UNUSED(Sender);
  QString chosen = OpenDialog1.FileName;
  if (!Dialogs().OpenFileDialog(OpenDialog1, chosen))
    return;
  OpenDialog1.FileName = chosen;
  ceBaseName->setEditText(changeFileExt(chosen, QStringLiteral(".png")));
}

void TfrmVellumark::ceBaseNameChange(QObject* Sender) {
  Q_UNUSED(Sender);
  const QString text = ceBaseName->currentText();
  refuseLineBreak(text);  // the settings file could not keep it
  SetSetting(BaseFilenameKey, relativePathsWanted() ? pathToStore(text, true) : text);
}

void TfrmVellumark::RelativePathsChange(bool Checked) {
  SetSetting(RelativePathsKey, checkedText(Checked));
  // The stored paths take the chosen form at once: relative where they lie under the settings
  // file's folder, or full again. The stored texts are converted, not the frames' names, so that an
  // entry whose picture could not be restored keeps naming it.
  const auto convert = [Checked](const QString& stored) { return pathToStore(stored, Checked); };
  for (TRatioFrame* frame : FRatioFrames) {
    const QString stored = frame->GetSetting(frame->SizeStr());
    if (convert(stored) != stored)
      frame->SetSetting(frame->SizeStr(), convert(stored));
  }
  const QString baseName = GetSetting(BaseFilenameKey);
  if (convert(baseName) != baseName)
    SetSetting(BaseFilenameKey, convert(baseName));
}

QString TfrmVellumark::GetSetting(const QString& AName) const { return SettingsAccess::GetWindowSetting(AName); }

void TfrmVellumark::SetSetting(const QString& AName, const QString& Value) {
  SettingsAccess::SetWindowSetting(AName, Value);
}

// Log, validation and the Generate action

void TfrmVellumark::Log(const QString& Msg) { mmOutput->appendPlainText(Msg); }

bool TfrmVellumark::IsChecked(const QListWidgetItem* Item) { return Item && Item->checkState() == Qt::Checked; }

namespace {

// For the length of a generation run: nothing that could change the run can be used (the other
// tabs with the frames and the setup, the Generate action with its button, closing the window),
// the log cannot be typed into, and the cursor shows that the program is busy. Everything comes
// back as it was when the run ends, also when an error ends it.
class TGenerateRunScope {
public:
  TGenerateRunScope(TfrmVellumark& form, bool& generating) : FForm(form), FGenerating(generating) {
    FGenerating = true;
    for (int i = 0; i < FForm.TabControl1->count(); ++i) {
      FTabsEnabled.append(FForm.TabControl1->isTabEnabled(i));
      if (FForm.TabControl1->widget(i) != FForm.TabControl1->currentWidget())
        FForm.TabControl1->setTabEnabled(i, false);
    }
    FActionEnabled = FForm.actGenerate->isEnabled();
    FForm.actGenerate->setEnabled(false);
    FLogReadOnly = FForm.mmOutput->isReadOnly();
    FForm.mmOutput->setReadOnly(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~TGenerateRunScope() {
    QApplication::restoreOverrideCursor();
    FForm.mmOutput->setReadOnly(FLogReadOnly);
    FForm.actGenerate->setEnabled(FActionEnabled);
    for (int i = 0; i < FTabsEnabled.size() && i < FForm.TabControl1->count(); ++i)
      FForm.TabControl1->setTabEnabled(i, FTabsEnabled[i]);
    FGenerating = false;
  }
  TGenerateRunScope(const TGenerateRunScope&) = delete;
  TGenerateRunScope& operator=(const TGenerateRunScope&) = delete;

private:
  TfrmVellumark& FForm;
  bool& FGenerating;
  QList<bool> FTabsEnabled;
  bool FActionEnabled = false;
  bool FLogReadOnly = false;
};

}  // namespace

void TfrmVellumark::actGenerateExecute(QObject* Sender) {
  Q_UNUSED(Sender);
  if (FGenerating)
    return;
  TGenerateRunScope scope(*this, FGenerating);
  pbGenerate->setRange(0, 1);
  pbGenerate->setValue(0);
  pbGenerate->setVisible(true);
  GenerateImages();
}

void TfrmVellumark::ShowProgress(int done, int total) {
  pbGenerate->setRange(0, std::max(total, 1));
  pbGenerate->setValue(total > 0 ? done : 1);
  // Repaint between files. User input reaches only disabled controls meanwhile, so nothing acts on it.
  QCoreApplication::processEvents();
}

void TfrmVellumark::closeEvent(QCloseEvent* event) {
  if (FGenerating) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

void TfrmVellumark::TabControl1Change(QObject* Sender) {
  auto* tabs = qobject_cast<QTabWidget*>(Sender);
  if (!tabs)
    tabs = TabControl1;
  // Disabled first: whatever fails below leaves the action disabled.
  actGenerate->setEnabled(false);
  if (tabs->currentWidget() != tiGenerate)
    return;
  mmOutput->clear();
  pbGenerate->setVisible(false);
  if (!Validate())
    throw Exception(QStringLiteral("Errors were found in setup.  Please correct."));
  Log(QStringLiteral("Ready to generate images"));
  actGenerate->setEnabled(true);
}

bool TfrmVellumark::Validate() {
  if (!IsChecked(lbiiPhone) && !IsChecked(lbiiPad) && !IsChecked(lbiAndroid))
    throw Exception(QStringLiteral("An output device must be checked"));
  bool result = true;

  Log(QStringLiteral("Validating Ratio Inputs..."));
  for (TRatioFrame* frame : FRatioFrames) {
    Log(QStringLiteral("   Validating ") + frame->Caption() + QStringLiteral("..."));
    if (frame->Bitmap().IsEmpty()) {
      result = false;
      Log(QStringLiteral("      INVALID Bitmap (Empty)"));
    } else {
      Log(QStringLiteral("      Bitmap Ok"));
    }
    // A coordinate that is not a number makes the rectangle empty as well.
    if (frame->SelectRect().IsEmpty()) {
      result = false;
      Log(QStringLiteral("      INVALID Selection rectangle (Empty)"));
    } else if (!frame->Bitmap().IsEmpty() && isOutside(frame->SelectRect(), frame->ImageRect())) {
      // It would make every output of the group fully transparent.
      result = false;
      Log(QStringLiteral("      INVALID Selection rectangle (outside the picture)"));
    } else {
      Log(QStringLiteral("      Selection rectangle Ok"));
    }
  }

  Log(QStringLiteral("Validating Outputs..."));
  const QString baseName = ceBaseName->currentText();
  if (!isValidPath(baseName)) {
    result = false;
    Log(QStringLiteral("   Incorrect path for base name: ") + baseName);
  } else if (folderOf(baseName).isEmpty()) {
    result = false;
    Log(QStringLiteral("   No directory found at specified path for base name: ") + baseName);
  } else if (const QStringList sources = SourcesInTheWay(); !sources.isEmpty()) {
    result = false;
    for (const QString& source : sources)
      Log(QStringLiteral("   INVALID Output would overwrite the source picture ") + source);
  }
  return result;
}

QStringList TfrmVellumark::SourcesInTheWay() const {
  // Compared as the files they lead to, so that another spelling or a link is no way around it.
  QStringList outputs;
  for (const QString& path : OutputFilePaths()) {
    const QString target = canonicalTarget(path);
    if (!target.isEmpty())
      outputs << target;
  }
  QStringList sources;
  for (const TRatioFrame* frame : FRatioFrames) {
    const QString source = frame->Filename();
    if (source.isEmpty() || sources.contains(source))
      continue;
    const QString target = canonicalTarget(source);
    if (!target.isEmpty() && outputs.contains(target))
      sources << source;
  }
  return sources;
}
