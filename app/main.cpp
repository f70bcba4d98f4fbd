#include "app/QtDialogService.h"
#include "app/VellumarkApplication.h"
#include "app/VellumarkMain.h"
#include "platform/AtomicFile.h"
#include "platform/Dialogs.h"

#include <memory>

int main(int argc, char** argv) {
  ignoreFileSizeLimitSignal();  // a size limit fails the write that meets it, and the program goes on
  TVellumarkApplication app(argc, argv);
  TVellumarkApplication::setApplicationName(QStringLiteral("Vellumark"));
  TQtDialogService dialogs;
  setDialogService(&dialogs);
  std::unique_ptr<TfrmVellumark> frmVellumark;
  try {
    frmVellumark = std::make_unique<TfrmVellumark>();
  } catch (...) {
    ShowCurrentException();
    return 1;
  }
  frmVellumark->show();
  app.exec();
  return 0;
}
