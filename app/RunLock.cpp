#include "app/RunLock.h"

#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTabWidget>

TRunLock::TRunLock(QTabWidget* tabs, QAction* generate, QPlainTextEdit* log, bool& generating)
    : FTabs(tabs), FGenerate(generate), FLog(log), FGenerating(generating) {
  FGenerating = true;
  for (int i = 0; i < FTabs->count(); ++i) {
    FTabsEnabled.append(FTabs->isTabEnabled(i));
    if (FTabs->widget(i) != FTabs->currentWidget())
      FTabs->setTabEnabled(i, false);
  }
  FActionEnabled = FGenerate->isEnabled();
  FGenerate->setEnabled(false);
  FLogReadOnly = FLog->isReadOnly();
  FLog->setReadOnly(true);
  QApplication::setOverrideCursor(Qt::WaitCursor);
}

TRunLock::~TRunLock() {
  QApplication::restoreOverrideCursor();
  FLog->setReadOnly(FLogReadOnly);
  FGenerate->setEnabled(FActionEnabled);
  for (int i = 0; i < FTabsEnabled.size() && i < FTabs->count(); ++i)
    FTabs->setTabEnabled(i, FTabsEnabled[i]);
  FGenerating = false;
}
