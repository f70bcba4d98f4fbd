#pragma once

#include "frames/FrameRatio.h"
#include "frames/PreviewWindow.h"
#include "model/GenerateRun.h"
#include "model/OutputPlan.h"
#include "model/SetupChoices.h"
#include "platform/Dialogs.h"
#include "settings/Settings.h"

#include <QList>
#include <QPointer>
#include <QUndoCommand>
#include <QString>
#include <QWidget>
#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QUrl;
class QSpinBox;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollArea;
class QTabWidget;
class QUndoStack;
class TPreviewWindow;
class TRatioFrame;
struct TFrameState;
struct TSizeInfo;

// The main window: a four-tab wizard (Introduction, Graphics, Setup, Generate) that owns the
// ratio frames, keeps the base file name, logs validation and generation, and gates the Generate
// action behind a clean check of the setup. It wires: the rules live in model/ (the plan of
// outputs, the check of the setup, the run, the Setup tab's choices), the layout in
// VellumarkLayout.cpp, the lock of the window during a run in RunLock.h.
//
// The handlers raise their errors as exceptions. When they run from a signal (tab change, Browse,
// typing in the base name, the Generate action) the error is caught at the signal's boundary and
// shown in the error box, so that no exception unwinds through Qt's own code; called directly
// (as the tests do) they throw.
class TfrmVellumark : public QWidget {
  Q_OBJECT
public:
  // Builds the layout and runs FormCreate. A dialog service must be installed. The window and its
  // frames read and write the settings file through the store they are handed.
  TfrmVellumark(QWidget* parent, TSettingsStore& settings);
  ~TfrmVellumark() override;

  // The menu bar over the client area: File (Open settings file..., Open Recent, Show output
  // folder, Quit), Edit (Undo, Redo), Help (About Vellumark). The client area's controls sit below
  // it, at their places of the layout table.
  QMenuBar* MenuBar1 = nullptr;
  QAction* actOpenSettings = nullptr;
  QMenu* mnRecent = nullptr;
  QAction* actShowOutputFolder = nullptr;
  QAction* actQuit = nullptr;
  QAction* actAbout = nullptr;
  // Under the log after a run: opens the folder the run wrote into.
  QPushButton* btnOpenOutputFolder = nullptr;
  // The height of the menu bar: the client area's top.
  int ClientTop() const;

  // Raised by Open settings file... and Open Recent with the settings file chosen; the owner opens
  // a window on it (and closes this one once that succeeded). Without a handler nothing happens.
  std::function<void(const QString& SettingsFile)> OnOpenSettings;
  // How a folder is shown to the user (the file manager); tests replace it.
  std::function<bool(const QUrl& Folder)> OpenUrl;

  // Controls, in the order of the layout table.
  QTabWidget* TabControl1 = nullptr;
  QWidget* tiIntro = nullptr;
  QWidget* tiGraphics = nullptr;
  QWidget* tiSetup = nullptr;
  QWidget* tiGenerate = nullptr;
  QPlainTextEdit* Memo1 = nullptr;
  QLabel* lblSettingsFile = nullptr;  // under the introduction: the settings file in use
  QScrollArea* VertScrollBox1 = nullptr;
  QWidget* Layout1 = nullptr;
  QListWidget* ListBox1 = nullptr;
  QListWidgetItem* ListBoxGroupHeader1 = nullptr;
  QListWidgetItem* lbiiPhone = nullptr;
  QListWidgetItem* lbiiPad = nullptr;
  QListWidgetItem* lbiAndroid = nullptr;
  QCheckBox* cbOptset = nullptr;
  QPushButton* Button1 = nullptr;
  TOpenDialogOptions OpenDialog1;
  QPlainTextEdit* mmOutput = nullptr;
  QPushButton* Button2 = nullptr;
  QObject* ActionList1 = nullptr;
  QAction* actGenerate = nullptr;
  QComboBox* ceBaseName = nullptr;
  QLabel* Label1 = nullptr;
  // Under the log: entries done of the entries to make, shown from the start of a generation run.
  QProgressBar* pbGenerate = nullptr;
  // Opt-in choices of the Setup tab, kept in section "settings" ("1" or "0", missing is "0"):
  // outputs smaller than their region made by area averaging (key "smooth_downscale"), and the
  // 1024 x 1024 App Store icon written after the 1:1 group (key "appstore_icon").
  QCheckBox* cbSmooth = nullptr;
  QCheckBox* cbAppStoreIcon = nullptr;
  // Undo and redo of the pictures and selections of all frames, in order (Graphics tab; Ctrl+Z,
  // Ctrl+Shift+Z and Ctrl+Y anywhere in the window).
  QAction* actUndo = nullptr;
  QAction* actRedo = nullptr;
  QPushButton* btnUndo = nullptr;
  QPushButton* btnRedo = nullptr;
  QUndoStack* UndoStack() const { return FUndoStack; }
  // Paths under the settings file's folder stored relative to it (key "relative_paths", "1" or
  // "0", missing is "0"); toggling it rewrites the stored paths at once.
  QCheckBox* cbRelativePaths = nullptr;
  // The files a run makes (key "file_set": "classic", the default, or "current"), the launch
  // screen's size in points (key "launch_points") and the colour the App Store icon's transparent
  // parts are laid over (key "appstore_background", "#RRGGBB"). Each is stored when the user
  // changes it; with the current set the App Store icon box does not apply (the set names the
  // icon) and is disabled.
  QLabel* lblFileSet = nullptr;
  QComboBox* cbFileSet = nullptr;
  QLabel* lblLaunchPoints = nullptr;
  QSpinBox* seLaunchPoints = nullptr;
  QLabel* lblLaunchPointsNote = nullptr;
  QLabel* lblAppStoreBackground = nullptr;
  QLineEdit* edAppStoreBackground = nullptr;
  QLabel* lblAppStoreBackgroundNote = nullptr;

  // The option-set documents of the latest generation run, held through their roots; absent
  // until the first run, replaced by every run.
  TRunDocuments Documents;

  // Event handlers.
  void FormCreate(QObject* Sender);
  void Button1Click(QObject* Sender);
  void ceBaseNameChange(QObject* Sender);
  void actGenerateExecute(QObject* Sender);
  void TabControl1Change(QObject* Sender);
  void RelativePathsChange(bool Checked);
  void FileSetChange(int Index);
  // The File menu's actions.
  void OpenSettingsClick();
  void OpenRecentClick(const QString& SettingsFile);
  void ShowOutputFolderClick();
  void AboutClick();
  // The text of the About box: the version and the licences of what the program ships.
  static QString AboutText();
  // The window's place, size and tab as stored (the place kept on the free area of the screen); a
  // window closed on the Generate tab opens on Setup, whose check that tab would run again.
  void RestorePlacement();
  // Stores the place, size and tab that differ from the stored ones.
  void StorePlacement();
  void LaunchPointsChange(int Points);
  void AppStoreBackgroundChange();

  // Appends Msg as a new last line of the log mmOutput.
  void Log(const QString& Msg);
  // True when every check of the setup passed; the findings are logged. Raises
  // "An output device must be checked" when no device is checked.
  bool Validate();
  // The generation run behind the Generate action.
  void GenerateImages();
  // The Setup tab's choices as the controls show them.
  TSetupChoices SetupChoices() const;
  // The plan of a run made now.
  TOutputPlan Plan() const;
  // The PNG files a run makes for the checked devices and the base file name, in run order.
  QStringList OutputPngPaths() const;
  // The option-set files a run saves after them (none when cbOptset is unchecked).
  QStringList OutputOptsetPaths() const;
  // Both: every file the run writes.
  QStringList OutputFilePaths() const;
  // The source pictures of the frames (as the frames name them) that a run would write over.
  QStringList SourcesInTheWay() const;
  // The folder the run writes into: the base file name's, a relative one taken beside the
  // settings file.
  QString OutputFolder() const;

  // Setting[AName]: the window's own values in section "settings" of the settings file.
  QString GetSetting(const QString& AName) const;
  void SetSetting(const QString& AName, const QString& Value);

  // The ratio frame whose Tag is the group index; nullptr when no frame carries it.
  TRatioFrame* FindRatioFrame(int Index) const;
  // The ratio frames in group order: every group of every set; those the chosen set does not use
  // are hidden, their pictures and selections kept.
  const QList<TRatioFrame*>& RatioFrames() const { return FRatioFrames; }
  // The frames of the chosen set's groups (those shown), in group order.
  QList<TRatioFrame*> FramesOfSet() const;

  // The checked state of a device item (lbiiPhone, lbiiPad, lbiAndroid).
  static bool IsChecked(const QListWidgetItem* Item);

  // Opens the preview window of a frame's group: every output of the group for the checked
  // devices, rendered as a run would render it now, named as a run would name it. Writes nothing.
  // The window stays open and follows the frame's picture and selection, the devices and the
  // smooth and App Store icon options; a missing picture or an empty selection is said in words.
  TPreviewWindow* PreviewFrame(TRatioFrame* Frame);
  // Renders the open previews again: those of one frame, or all when Frame is nullptr.
  void RefreshPreviews(const TRatioFrame* Frame = nullptr);
  // After a frame's picture or selection changed (a user's change, undo or redo): the previews, the
  // frame that follows it and the files of the plan follow.
  void FrameStateChanged(TRatioFrame* Frame);

  // The introduction shown on the first tab.
  static const QString IntroductionText;

protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // The window stays open while a generation run goes on.
  void closeEvent(QCloseEvent* event) override;

private:
  void InitSizeInfos();
  void CreateRatioFrames();
  // The frame of a group, restored or not; a failed restore is shown and gives a frame without
  // the stored picture that names it.
  TRatioFrame* CreateRatioFrame(int Group, bool Restore);
  void RatioFrameChange(QObject* Sender);
  // Progress of a generation run: sets the bar and lets the window repaint.
  void ShowProgress(int done, int total);

  // Tells every frame the outputs a run makes from it for the checked devices and options (its
  // warnings follow them), and shows the frames of the chosen set's groups only.
  void UpdateFrameOutputs();
  // Whether the frame of a group is restored from the settings file at start-up: every classic
  // group; another only when the settings file holds a picture or selection of its own (so that a
  // classic setup writes nothing new), the following group only with a picture of its own.
  bool RestoresAtStart(int Group) const;
  // The file set, the launch screen's points and the App Store icon's background as stored.
  void RestoreFileChoices();
  // The check boxes of the Setup tab as the settings file holds them.
  void RestoreCheckBoxes();
  void ShowFileChoices(const TSetupChoices& Choices);
  // Stores the check state of a device item when the user changes it.
  void DeviceChange(QListWidgetItem* Item);

  void buildLayout();
  void layOutSetupPage();
  void buildFileChoices();
  void buildMenuBar();
  void fillRecentMenu();
  // The smallest window at which no control is cut off.
  void updateMinimumSize();
  // Shows the error in flight at start-up, once per distinct message.
  void showStartupError();

  void UpdateUndoActions();
  // The tiles of a frame's preview, or the words that say why there are none.
  QList<TPreviewItem> PreviewItems(const TRatioFrame* Frame, QString& Message, QList<TBitmap>* Pictures) const;
  // The plan the previews and the frames' warnings follow: a run's, with the base name's stem as
  // typed ("<base name>" without one).
  TOutputPlan PreviewPlan() const;
  struct OpenPreview {
    const TRatioFrame* Frame;
    QPointer<TPreviewWindow> Window;
    // The whole pictures its tiles were drawn from, held while it is open so that a refresh takes
    // them from the decoder's cache instead of decoding them again.
    QList<TBitmap> Pictures;
  };
  QList<OpenPreview> FPreviews;

  TSettingsStore& FSettings;
  QUndoStack* FUndoStack = nullptr;
  QWidget* FScrollContent = nullptr;
  QList<TRatioFrame*> FRatioFrames;
  TErrorsOnce FStartupErrors;
  bool FGenerating = false;
};

// One undoable change of a frame's picture or selection, pushed after the change was made. Undo
// and redo bring the frame's state back through the frame (stored like any change) and show it.
class TFrameStateCommand : public QUndoCommand {
public:
  TFrameStateCommand(TfrmVellumark* form, TRatioFrame* frame, const TFrameState& before, const TFrameState& after);
  void undo() override;
  void redo() override;

private:
  void apply(const TFrameState& state);
  TfrmVellumark* FForm;
  TRatioFrame* FFrame;
  TFrameState FBefore;
  TFrameState FAfter;
  bool FDone = true;
};

// Appends Item to the combo box's list unless the list already holds it (letter case ignored).
// The combo box's text and current item stay as they are, and the box emits no signal.
void appendHistoryItem(QComboBox* Combo, const QString& Item);
