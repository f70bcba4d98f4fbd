#pragma once

#include <QList>

class QAction;
class QPlainTextEdit;
class QTabWidget;

// The window's lock for the length of a generation run: nothing that could change the run can be
// used (the other tabs with the frames and the setup, the Generate action with its button; the
// window refuses to close while the flag is set), the log cannot be typed into, and the cursor
// shows that the program is busy. Everything comes back as it was when the run ends, also when an
// error ends it.
class TRunLock {
public:
  TRunLock(QTabWidget* tabs, QAction* generate, QPlainTextEdit* log, bool& generating);
  ~TRunLock();
  TRunLock(const TRunLock&) = delete;
  TRunLock& operator=(const TRunLock&) = delete;

private:
  QTabWidget* FTabs;
  QAction* FGenerate;
  QPlainTextEdit* FLog;
  bool& FGenerating;
  QList<bool> FTabsEnabled;
  bool FActionEnabled = false;
  bool FLogReadOnly = false;
};
