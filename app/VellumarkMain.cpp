#include "app/VellumarkMain.h"

#include "app/RunLock.h"
#include "catalogue/SizeInfo.h"
#include "frames/FrameRatio.h"
#include "frames/PreviewWindow.h"
#include "model/PicturePrefetch.h"
#include "model/Validation.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "platform/PathRules.h"
#include "settings/Settings.h"
#include "settings/StoredPaths.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollArea>
#include <QSpinBox>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QUndoStack>
#include <QVBoxLayout>

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

TfrmVellumark::TfrmVellumark(QWidget* parent, TSettingsStore& settings) : QWidget(parent), FSettings(settings) {
  // A picture or another file that is no settings file: the window does not open on it.
  FSettings.RefuseNonSettingsFile();
  buildLayout();
  FormCreate(this);
}

TfrmVellumark::~TfrmVellumark() = default;

void TfrmVellumark::showStartupError() { FStartupErrors.ShowCurrent(); }

// Start-up

void TfrmVellumark::FormCreate(QObject* Sender) {
  Q_UNUSED(Sender);
  TabControl1->setCurrentIndex(0);
  InitSizeInfos();
  CreateRatioFrames();
  QString baseName;
  try {
    // A relative name with a folder part is shown as the full path it names beside the settings
    // file; one without a folder part as it is stored, for the check to refuse.
    baseName = restoreBaseName(FSettings);
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
  RestoreFileChoices();
  UpdateFrameOutputs();
  RestorePlacement();
}

void TfrmVellumark::RestoreFileChoices() {
  TSetupChoices stored;
  try {
    restoreFileChoices(stored, FSettings);
  } catch (...) {
    // What was read before the refused value is shown; the rest keeps its default.
    ShowFileChoices(stored);
    showStartupError();
    return;
  }
  ShowFileChoices(stored);
}

void TfrmVellumark::ShowFileChoices(const TSetupChoices& Choices) {
  // Restoring is no change to persist.
  const QSignalBlocker blockSet(cbFileSet);
  const QSignalBlocker blockPoints(seLaunchPoints);
  const QSignalBlocker blockBackground(edAppStoreBackground);
  cbFileSet->setCurrentIndex(cbFileSet->findData(fileSetText(Choices.FileSet)));
  seLaunchPoints->setValue(Choices.LaunchPoints);
  edAppStoreBackground->setText(colourText(Choices.AppStoreBackground));
  cbAppStoreIcon->setEnabled(!namesAppStoreIcon(Choices.FileSet));
}

void TfrmVellumark::UpdateFrameOutputs() {
  const TOutputPlan plan = PreviewPlan();
  const bool iOS = plan.Choices.iPhone || plan.Choices.iPad;
  const QList<int> used = groupsOfSet(plan.Choices.FileSet);
  for (TRatioFrame* frame : FRatioFrames) {
    frame->setVisible(used.contains(frame->Tag()));
    QList<QSize> sizes;
    for (const TPlannedOutput& o : plan.OfGroup(frame->Tag()))
      sizes.append(QSize(o.Width, o.Height));
    frame->SetOutputs(sizes, iOS);
  }
}

void TfrmVellumark::RestoreCheckBoxes() {
  TSetupChoices stored = SetupChoices();
  // What was read is shown also when a later read fails.
  const auto show = qScopeGuard([this, &stored] {
    // Restoring is no change to persist.
    const QSignalBlocker blockList(ListBox1);
    const QSignalBlocker blockOptset(cbOptset);
    const QSignalBlocker blockSmooth(cbSmooth);
    const QSignalBlocker blockAppStore(cbAppStoreIcon);
    const QSignalBlocker blockRelative(cbRelativePaths);
    lbiAndroid->setCheckState(stored.Android ? Qt::Checked : Qt::Unchecked);
    lbiiPhone->setCheckState(stored.iPhone ? Qt::Checked : Qt::Unchecked);
    lbiiPad->setCheckState(stored.iPad ? Qt::Checked : Qt::Unchecked);
    cbOptset->setChecked(stored.Optsets);
    cbSmooth->setChecked(stored.Smooth);
    cbAppStoreIcon->setChecked(stored.AppStoreIcon);
    cbRelativePaths->setChecked(stored.RelativePaths);
  });
  restoreCheckBoxes(stored, FSettings);
}

TSetupChoices TfrmVellumark::SetupChoices() const {
  TSetupChoices choices;
  choices.BaseName = ceBaseName->currentText();
  choices.Android = IsChecked(lbiAndroid);
  choices.iPhone = IsChecked(lbiiPhone);
  choices.iPad = IsChecked(lbiiPad);
  choices.Optsets = cbOptset->isChecked();
  choices.Smooth = cbSmooth->isChecked();
  choices.AppStoreIcon = cbAppStoreIcon->isChecked();
  choices.RelativePaths = cbRelativePaths->isChecked();
  choices.FileSet = fileSetFromText(cbFileSet->currentData().toString()).value_or(TFileSet::Classic);
  choices.LaunchPoints = seLaunchPoints->value();
  choices.AppStoreBackground = colourFromText(edAppStoreBackground->text()).value_or(DefaultAppStoreBackground);
  const TRatioFrame* launch = FindRatioFrame(LaunchScreenGroup);
  choices.DarkLaunchScreen = launch && !launch->DarkFilename().isEmpty();
  return choices;
}

TOutputPlan TfrmVellumark::Plan() const { return planOutputs(runChoicesOf(SetupChoices(), FSettings)); }

TOutputPlan TfrmVellumark::PreviewPlan() const {
  TRunChoices choices = runChoicesOf(SetupChoices(), FSettings);
  // Without a base name the tiles say where it goes.
  choices.Stem = stemOf(ceBaseName->currentText());
  if (choices.Stem.isEmpty())
    choices.Stem = QStringLiteral("<base name>");
  choices.Folder.clear();
  return planOutputs(choices);
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

bool TfrmVellumark::RestoresAtStart(int Group) const {
  if (Group < SizeGroupCount)
    return true;
  const TGroupInfo& info = groupInfo(Group);
  try {
    if (Group == NotificationGroup)
      return !FSettings.ImageSetting(info.Key).isEmpty();
    return !FSettings.ImageSetting(info.Key).isEmpty() || FSettings.SelectionSetting(info.Key).has_value() ||
           (!info.DarkKey.isEmpty() && !FSettings.ImageSetting(info.DarkKey).isEmpty());
  } catch (...) {
    // An unreadable settings file: the restore reports it.
    return true;
  }
}

void TfrmVellumark::CreateRatioFrames() {
  auto* stack = static_cast<QVBoxLayout*>(FScrollContent->layout());
  QList<int> restored;
  for (int g = 0; g < AllGroupCount; ++g)
    if (RestoresAtStart(g))
      restored.append(g);
  // The stored pictures are decoded on all cores first; the frames below take them in order.
  const auto prefetch = prefetchStoredPictures(FSettings, restored);
  for (int g = 0; g < AllGroupCount; ++g) {
    TRatioFrame* frame = CreateRatioFrame(g, restored.contains(g));
    stack->insertWidget(stack->count() - 1, frame);  // above the closing stretch
    frame->OnChange = [this](QObject* changed) { RatioFrameChange(changed); };
    frame->OnPreview = [this, frame](QObject*) { PreviewFrame(frame); };
    frame->OnStateChange = [this](TRatioFrame* changed, const TFrameState& before, const TFrameState& after) {
      FUndoStack->push(new TFrameStateCommand(this, changed, before, after));
      FrameStateChanged(changed);
    };
    frame->SetTag(g);
    FRatioFrames.append(frame);
  }
  // Without a picture of its own, the notification group's files come from the 1:1 group's.
  FindRatioFrame(NotificationGroup)->SetFollowed(FindRatioFrame(sizetables::SquareGroup), true);
}

TRatioFrame* TfrmVellumark::CreateRatioFrame(int Group, bool Restore) {
  if (!Restore)
    return new TRatioFrame(FScrollContent, ratioGroupOf(Group), false, FSettings);
  try {
    return new TRatioFrame(FScrollContent, ratioGroupOf(Group), true, FSettings);
  } catch (...) {
    const QString reason = currentExceptionMessage();
    showStartupError();
    // The group still gets its frame, without the stored picture and selection and without
    // writing anything, so that every group has a frame and the user can choose again. The
    // stored entries stay as they are in the settings file; the stored picture name shows in
    // the frame, so that the user sees what is missing.
    auto* frame = new TRatioFrame(FScrollContent, ratioGroupOf(Group), false, FSettings);
    QString stored;
    try {
      stored = FSettings.ImageSetting(frame->SizeStr());
    } catch (...) {
      // An unreadable settings file has been reported above.
    }
    if (!stored.isEmpty())
      frame->ShowUnloadedFilename(stored, reason);
    return frame;
  }
}

void TfrmVellumark::FrameStateChanged(TRatioFrame* Frame) {
  TRatioFrame* follower = FindRatioFrame(NotificationGroup);
  if (follower && Frame == FindRatioFrame(sizetables::SquareGroup)) {
    follower->UpdateWarnings();
    RefreshPreviews();
  } else {
    RefreshPreviews(Frame);
  }
  // A dark launch-screen picture set or cleared adds or takes away the dark files.
  if (Frame->Tag() == LaunchScreenGroup)
    UpdateFrameOutputs();
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
  FForm->FrameStateChanged(FFrame);
}

TRatioFrame* TfrmVellumark::FindRatioFrame(int Index) const {
  for (TRatioFrame* frame : FRatioFrames)
    if (frame->Tag() == Index)
      return frame;
  return nullptr;
}

QList<TRatioFrame*> TfrmVellumark::FramesOfSet() const {
  QList<TRatioFrame*> frames;
  for (const int g : groupsOfSet(SetupChoices().FileSet))
    frames.append(FindRatioFrame(g));
  return frames;
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

QList<TPreviewItem> TfrmVellumark::PreviewItems(const TRatioFrame* Frame, QString& Message,
                                                QList<TBitmap>* Pictures) const {
  const TOutputPlan plan = PreviewPlan();
  return renderPreviewItems(Frame->SourceGroup(), plan.OfGroup(Frame->Tag()), plan.Choices, Message, Pictures);
}

TPreviewWindow* TfrmVellumark::PreviewFrame(TRatioFrame* Frame) {
  QString message;
  QList<TBitmap> pictures;
  QList<TPreviewItem> items = PreviewItems(Frame, message, &pictures);
  auto* window = new TPreviewWindow(Frame->Caption(), std::move(items), this, message);
  FPreviews.append({Frame, window, pictures});
  // A closed window's pictures are let go at once.
  connect(window, &QObject::destroyed, this, [this, window] {
    FPreviews.removeIf([window](const OpenPreview& p) { return p.Window.isNull() || p.Window == window; });
  });
  window->show();
  return window;
}

void TfrmVellumark::RefreshPreviews(const TRatioFrame* Frame) {
  // Closed windows delete themselves; their entries go.
  FPreviews.removeIf([](const OpenPreview& p) { return p.Window.isNull(); });
  for (OpenPreview& p : FPreviews) {
    if (Frame && p.Frame != Frame)
      continue;
    QString message;
    QList<TPreviewItem> items = PreviewItems(p.Frame, message, &p.Pictures);
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
  SetSetting(BaseFilenameKey, FSettings.RelativePathsWanted() ? baseNameToStore(text, true, FSettings) : text);
}

void TfrmVellumark::RelativePathsChange(bool Checked) {
  SetSetting(RelativePathsKey, checkedText(Checked));
  // The stored paths take the chosen form at once: relative where they lie under the settings
  // file's folder, or full again. The stored texts are converted, not the frames' names, so that an
  // entry whose picture could not be restored keeps naming it.
  const auto convert = [this, Checked](const QString& stored) { return FSettings.PathToStore(stored, Checked); };
  for (TRatioFrame* frame : FRatioFrames)
    for (const QString& key : {frame->SizeStr(), frame->Group().DarkKey()}) {
      if (key.isEmpty())
        continue;
      const QString stored = frame->GetSetting(key);
      if (convert(stored) != stored)
        frame->SetSetting(key, convert(stored));
    }
  const QString baseName = GetSetting(BaseFilenameKey);
  if (const QString converted = baseNameToStore(baseName, Checked, FSettings); converted != baseName)
    SetSetting(BaseFilenameKey, converted);
}

void TfrmVellumark::FileSetChange(int Index) {
  const QString text = cbFileSet->itemData(Index).toString();
  cbAppStoreIcon->setEnabled(!namesAppStoreIcon(fileSetFromText(text).value_or(TFileSet::Classic)));
  UpdateFrameOutputs();
  RefreshPreviews();
  SetSetting(FileSetKey, text);
}

void TfrmVellumark::LaunchPointsChange(int Points) {
  UpdateFrameOutputs();
  RefreshPreviews(FindRatioFrame(LaunchScreenGroup));
  SetSetting(LaunchPointsKey, QString::number(Points));
}

void TfrmVellumark::AppStoreBackgroundChange() {
  const std::optional<QRgb> stored = colourFromText(GetSetting(AppStoreBackgroundKey));
  const std::optional<QRgb> typed = colourFromText(edAppStoreBackground->text());
  // An unfinished colour is not taken: the field shows the colour in use again.
  const QString shown = colourText(typed.value_or(stored.value_or(DefaultAppStoreBackground)));
  edAppStoreBackground->setText(shown);
  if (!typed || typed == stored)
    return;
  RefreshPreviews();
  SetSetting(AppStoreBackgroundKey, shown);
}

QString TfrmVellumark::GetSetting(const QString& AName) const { return FSettings.WindowSetting(AName); }

void TfrmVellumark::SetSetting(const QString& AName, const QString& Value) {
  FSettings.SetWindowSetting(AName, Value);
}

// Log, validation and the Generate action

void TfrmVellumark::Log(const QString& Msg) { mmOutput->appendPlainText(Msg); }

bool TfrmVellumark::IsChecked(const QListWidgetItem* Item) { return Item && Item->checkState() == Qt::Checked; }

void TfrmVellumark::actGenerateExecute(QObject* Sender) {
  Q_UNUSED(Sender);
  if (FGenerating)
    return;
  TRunLock lock(TabControl1, actGenerate, mmOutput, FGenerating);
  pbGenerate->setRange(0, 1);
  pbGenerate->setValue(0);
  pbGenerate->setVisible(true);
  GenerateImages();
}

void TfrmVellumark::GenerateImages() {
  QList<TRunGroup> groups;
  for (int g = 0; g < AllGroupCount; ++g)
    groups.append(runGroupOf(FindRatioFrame(g)->SourceGroup()));
  runGeneration(
      Plan(), groups, Dialogs(), [this](const QString& line) { Log(line); },
      [this](int done, int total) { ShowProgress(done, total); }, Documents);
  btnOpenOutputFolder->setVisible(true);
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
  // The place, size and tab are kept for the next start; a settings file that cannot be written
  // does not keep the window open.
  try {
    StorePlacement();
  } catch (...) {
    ShowCurrentException();
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
  btnOpenOutputFolder->setVisible(false);
  if (!Validate())
    throw Exception(SetupErrorsMessage);
  Log(ReadyMessage);
  actGenerate->setEnabled(true);
}

bool TfrmVellumark::Validate() {
  TSetupCheck setup;
  setup.Android = IsChecked(lbiAndroid);
  setup.iPhone = IsChecked(lbiiPhone);
  setup.iPad = IsChecked(lbiiPad);
  // The groups the run uses, as the command line checks them.
  for (const int g : groupsOfRun(Plan()))
    setup.Groups.append(groupCheckOf(FindRatioFrame(g)->SourceGroup(), g == NotificationGroup));
  setup.BaseName = ceBaseName->currentText();
  setup.SourcesInTheWay = [this] { return SourcesInTheWay(); };
  const TSetupVerdict verdict = checkSetup(setup);
  if (verdict.NoDevice)
    throw Exception(NoDeviceMessage);
  for (const QString& line : verdict.Lines)
    Log(line);
  return verdict.Ok;
}

QStringList TfrmVellumark::OutputPngPaths() const { return Plan().PngPaths(); }

QStringList TfrmVellumark::OutputOptsetPaths() const { return Plan().OptsetPaths(); }

QStringList TfrmVellumark::OutputFilePaths() const { return Plan().FilePaths(); }

QString TfrmVellumark::OutputFolder() const { return Plan().Choices.Folder; }

QStringList TfrmVellumark::SourcesInTheWay() const {
  QStringList sources;
  for (const TRatioFrame* frame : FRatioFrames)
    sources << frame->Filename() << frame->DarkFilename();
  return sourcesInTheWay(OutputFilePaths(), sources);
}
