#pragma once

#include "app/VellumarkMain.h"
#include "settings/Settings.h"

#include <QString>
#include <QStringList>
#include <memory>

// The window the program shows and the settings store it works on. Opening another settings file
// (File > Open settings file..., Open Recent) builds a store and a window on it first; only when
// that window exists is the old one closed, so a file that cannot be opened (no settings file, say)
// is reported and leaves the window in use as it was. Each file's recent list names the other.
class TWindowHost {
public:
  // The window on the settings file (the install's when empty); errors of its start are raised.
  explicit TWindowHost(const QString& settingsFile);
  ~TWindowHost();
  TfrmVellumark& Window() { return *FWindow; }
  // Opens a window on another settings file and closes the current one; a failure is shown and
  // changes nothing. True when the new window is the one in use.
  bool Open(const QString& settingsFile);

private:
  struct Session {
    std::unique_ptr<TSettingsStore> Settings;
    std::unique_ptr<TfrmVellumark> Window;
  };
  // A store and its window on the file (the store settles what killed writes left first).
  Session start(const QString& settingsFile);
  void wire();
  std::unique_ptr<TSettingsStore> FSettings;
  std::unique_ptr<TfrmVellumark> FWindow;
};
