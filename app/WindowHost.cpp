#include "app/WindowHost.h"

#include "model/WindowPlacement.h"
#include "platform/Dialogs.h"

#include <QFileInfo>
#include <QTimer>

TWindowHost::TWindowHost(const QString& settingsFile) {
  Session session = start(settingsFile);
  FSettings = std::move(session.Settings);
  FWindow = std::move(session.Window);
  wire();
}

TWindowHost::~TWindowHost() {
  // The window goes before the store it works on.
  FWindow.reset();
  FSettings.reset();
}

TWindowHost::Session TWindowHost::start(const QString& settingsFile) {
  Session session;
  session.Settings = std::make_unique<TSettingsStore>(
      settingsFile.isEmpty() ? QString() : QFileInfo(settingsFile).absoluteFilePath());
  session.Settings->RecoverKilledWrites();
  session.Window = std::make_unique<TfrmVellumark>(nullptr, *session.Settings);
  return session;
}

void TWindowHost::wire() {
  // Called from the window's menu: the switch happens once the menu's signal has returned.
  FWindow->OnOpenSettings = [this](const QString& file) {
    QTimer::singleShot(0, FWindow.get(), [this, file] { Open(file); });
  };
}

bool TWindowHost::Open(const QString& settingsFile) {
  const QString leaving = FSettings->Path();
  QStringList recent;
  try {
    recent = storedRecentFiles(*FSettings);
  } catch (...) {
    // An unreadable list starts afresh.
  }
  Session next;
  try {
    next = start(settingsFile);
  } catch (...) {
    ShowCurrentException();
    return false;
  }
  // Each file's list names the other first.
  try {
    storeRecentFiles(*FSettings, recentFilesAfterOpening(recent, settingsFile, leaving));
    storeRecentFiles(*next.Settings, recentFilesAfterOpening(recent, leaving, QString()));
  } catch (...) {
    ShowCurrentException();
  }
  // The window left keeps its place, size and tab for its own file.
  try {
    FWindow->StorePlacement();
  } catch (...) {
    ShowCurrentException();
  }
  next.Window->show();
  // The window left goes once the event that asked for the switch is done; its store with it.
  TfrmVellumark* old = FWindow.release();
  TSettingsStore* oldSettings = FSettings.release();
  QObject::connect(old, &QObject::destroyed, [oldSettings] { delete oldSettings; });
  old->hide();
  old->deleteLater();
  FWindow = std::move(next.Window);
  FSettings = std::move(next.Settings);
  wire();
  return true;
}
