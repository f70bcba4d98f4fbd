// The main window's menu bar and what belongs to the window as a desktop window: opening another
// settings file, the output folder, the About box, and the place, size and tab kept across starts.
#include "app/VellumarkMain.h"

#include "app/CommandLine.h"
#include "model/WindowPlacement.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "settings/Settings.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QUrl>
#include <QtGlobal>

int TfrmVellumark::ClientTop() const { return MenuBar1 ? MenuBar1->sizeHint().height() : 0; }

void TfrmVellumark::buildMenuBar() {
  MenuBar1 = new QMenuBar(this);
  MenuBar1->setObjectName(QStringLiteral("MenuBar1"));
  QMenu* file = MenuBar1->addMenu(QStringLiteral("&File"));
  actOpenSettings = file->addAction(QStringLiteral("&Open settings file..."));
  actOpenSettings->setShortcut(QKeySequence::Open);
  actOpenSettings->setToolTip(QStringLiteral("Open the window on another settings file (a new one is made when you "
                                             "name a file that does not exist)"));
  mnRecent = file->addMenu(QStringLiteral("Open &Recent"));
  actShowOutputFolder = file->addAction(QStringLiteral("&Show output folder"));
  actShowOutputFolder->setToolTip(QStringLiteral("Show the folder the base file name writes into"));
  file->addSeparator();
  actQuit = file->addAction(QStringLiteral("&Quit"));
  actQuit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  actQuit->setShortcutContext(Qt::WindowShortcut);
  QMenu* edit = MenuBar1->addMenu(QStringLiteral("&Edit"));
  edit->addAction(actUndo);
  edit->addAction(actRedo);
  QMenu* help = MenuBar1->addMenu(QStringLiteral("&Help"));
  actAbout = help->addAction(QStringLiteral("&About Vellumark"));
  for (QMenu* menu : {file, edit, help, mnRecent})
    menu->setToolTipsVisible(true);
  // Shortcuts of the menus' actions work while the menus are closed.
  addAction(actOpenSettings);
  addAction(actQuit);

  connect(actOpenSettings, &QAction::triggered, this, [this] { runEventHandler([this] { OpenSettingsClick(); }); });
  connect(actShowOutputFolder, &QAction::triggered, this,
          [this] { runEventHandler([this] { ShowOutputFolderClick(); }); });
  connect(actQuit, &QAction::triggered, this, [this] { close(); });
  connect(actAbout, &QAction::triggered, this, [this] { runEventHandler([this] { AboutClick(); }); });
  connect(mnRecent, &QMenu::aboutToShow, this, [this] { fillRecentMenu(); });
  fillRecentMenu();
  OpenUrl = [](const QUrl& folder) { return QDesktopServices::openUrl(folder); };
}

void TfrmVellumark::fillRecentMenu() {
  mnRecent->clear();
  QStringList recent;
  try {
    recent = storedRecentFiles(FSettings);
  } catch (...) {
    // An unreadable settings file offers no recent files; it has been reported.
  }
  const QString current = QDir::cleanPath(FSettings.Path());
  recent.removeIf([&current](const QString& path) { return QDir::cleanPath(path) == current; });
  for (const QString& path : recent) {
    QAction* action = mnRecent->addAction(QDir::toNativeSeparators(path));
    action->setToolTip(QDir::toNativeSeparators(path));
    connect(action, &QAction::triggered, this, [this, path] { runEventHandler([&] { OpenRecentClick(path); }); });
  }
  mnRecent->setEnabled(!recent.isEmpty());
}

void TfrmVellumark::OpenSettingsClick() {
  TOpenDialogOptions options;
  options.Filter = QStringLiteral("Settings files (*.ini)|*.ini|All files (*)|*");
  options.FilterIndex = 1;
  options.FileMustExist = false;
  options.PathMustExist = true;
  options.EnableSizing = true;
  options.FileName = FSettings.Path();
  QString chosen = FSettings.Path();
  if (!Dialogs().OpenFileDialog(options, chosen) || chosen.isEmpty())
    return;
  OpenRecentClick(QFileInfo(chosen).absoluteFilePath());
}

void TfrmVellumark::OpenRecentClick(const QString& SettingsFile) {
  if (OnOpenSettings)
    OnOpenSettings(SettingsFile);
}

void TfrmVellumark::ShowOutputFolderClick() {
  const QString folder = OutputFolder();
  if (folder.isEmpty() || !QFileInfo(folder).isDir())
    throw Exception(QStringLiteral("The output folder does not exist yet: ") +
                    (folder.isEmpty() ? QStringLiteral("no base file name is set") : QDir::toNativeSeparators(folder)));
  if (OpenUrl)
    OpenUrl(QUrl::fromLocalFile(folder));
}

QString TfrmVellumark::AboutText() {
  return QStringLiteral(
             "Vellumark %1\n"
             "\n"
             "Makes the icon, launch and splash PNG files of Delphi mobile applications, and the option-set "
             "files that name them.\n"
             "\n"
             "Built with Qt %2 (GNU LGPL version 3), libpng (libpng licence), libjpeg-turbo (IJG licence and "
             "modified BSD licence), zlib (zlib licence) and libdeflate (MIT licence); the Windows package also "
             "ships the MinGW-w64 runtime (its licences with the GCC runtime library exception). Their licence "
             "texts are in the \"licenses\" folder of the Windows package and in each library's Debian package "
             "on Linux.")
      .arg(VellumarkVersion, QString::fromLatin1(qVersion()));
}

void TfrmVellumark::AboutClick() {
  Dialogs().MessageDlg(AboutText(), TMsgDlgType::mtInformation, TMsgDlgButtons{mbOK});
}

void TfrmVellumark::RestorePlacement() {
  QRect stored;
  int tab = 0;
  try {
    stored = geometryFromText(GetSetting(WindowGeometryKey));
    tab = GetSetting(WindowTabKey).toInt();
  } catch (...) {
    // An unreadable settings file has been reported by the frames; the window opens as designed.
  }
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!stored.isEmpty())
    if (const QScreen* at = QGuiApplication::screenAt(stored.center()))
      screen = at;
  const QRect available = screen ? screen->availableGeometry() : QRect();
  const QRect placed = placedGeometry(stored, available, size(), QSize(0, 0));
  // Never larger than the free area: the minimum gives way on a small screen.
  if (!available.isEmpty())
    setMinimumSize(minimumSize().boundedTo(available.size()));
  resize(placed.size());
  if (!stored.isEmpty() || !available.isEmpty())
    move(placed.topLeft());
  if (tab > 0 && tab < TabControl1->count() && TabControl1->widget(tab) != tiGenerate)
    TabControl1->setCurrentIndex(tab);
}

void TfrmVellumark::StorePlacement() {
  const QString placement = geometryText(QRect(pos(), size()));
  const int tab = TabControl1->widget(TabControl1->currentIndex()) == tiGenerate ? TabControl1->indexOf(tiSetup)
                                                                                 : TabControl1->currentIndex();
  if (GetSetting(WindowGeometryKey) != placement)
    SetSetting(WindowGeometryKey, placement);
  if (GetSetting(WindowTabKey) != QString::number(tab))
    SetSetting(WindowTabKey, QString::number(tab));
}
