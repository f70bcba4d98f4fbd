#include "app/VellumarkMain.h"

#include "platform/Dialogs.h"
#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "frames/PicturePrefetch.h"
#include "platform/Errors.h"
#include "platform/PathRules.h"
#include "settings/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {

// Design size of the client area and the margins of the window.
constexpr int DesignWidth = 663;
constexpr int DesignHeight = 609;
constexpr int WindowMargin = 20;     // left, top and right; none at the bottom
constexpr int Layout1Height = 50;    // the strip along the bottom that holds Button2
constexpr int FrameHeight = 160;     // design height of a ratio frame
// Stretched controls of the Setup tab: x 144, and as wide as ceBaseName at the design size.
constexpr int SetupLeft = 144;
constexpr int SetupDesignWidth = 401;

const QString BaseFilenameKey = QStringLiteral("base_filename");

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
  TabControl1->addTab(tiIntro, QStringLiteral("Introduction"));

  // Graphics: the ratio frames stack at the top of the scroll box, each as wide as the box.
  tiGraphics = new QWidget;
  tiGraphics->setObjectName(QStringLiteral("tiGraphics"));
  VertScrollBox1 = new QScrollArea(tiGraphics);
  VertScrollBox1->setObjectName(QStringLiteral("VertScrollBox1"));
  VertScrollBox1->setWidgetResizable(true);
  VertScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
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

  resize(DesignWidth, DesignHeight);
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
    baseName = GetSetting(BaseFilenameKey);
  } catch (...) {
    showStartupError();
  }
  // Restoring the stored name is no change to persist.
  const QSignalBlocker block(ceBaseName);
  ceBaseName->setEditText(baseName);
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
      showStartupError();
      // The group still gets its frame, without the stored picture and selection and without
      // writing anything, so that every group has a frame and the user can choose again. The
      // stored entries stay as they are in the settings file.
      frame = new TRatioFrame(FScrollContent, first.Width, first.Height, false);
    }
    frame->setFixedHeight(FrameHeight);
    stack->insertWidget(stack->count() - 1, frame);  // above the closing stretch
    frame->OnChange = [this](QObject* changed) { RatioFrameChange(changed); };
    frame->SetTag(g);
    FRatioFrames.append(frame);
  }
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
  SetSetting(BaseFilenameKey, ceBaseName->currentText());
}

QString TfrmVellumark::GetSetting(const QString& AName) const { return SettingsAccess::GetWindowSetting(AName); }

void TfrmVellumark::SetSetting(const QString& AName, const QString& Value) {
  SettingsAccess::SetWindowSetting(AName, Value);
}

// Log, validation and the Generate action

void TfrmVellumark::Log(const QString& Msg) { mmOutput->appendPlainText(Msg); }

bool TfrmVellumark::IsChecked(const QListWidgetItem* Item) { return Item && Item->checkState() == Qt::Checked; }

void TfrmVellumark::actGenerateExecute(QObject* Sender) {
  Q_UNUSED(Sender);
  GenerateImages();
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
  }
  return result;
}
