#include "app/VellumarkApplication.h"

#include "platform/Dialogs.h"

#include <QImageReader>

TVellumarkApplication::TVellumarkApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The picture-format plugins are found here, on the main thread, before any decoding thread asks for
  // them. The search matches file names with a pattern whose per-thread state a MinGW build of the
  // toolkit frees wrongly when a short-lived thread ends, which brought the Windows program down.
  QImageReader::supportedImageFormats();
}

bool TVellumarkApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
    return false;
  }
}
