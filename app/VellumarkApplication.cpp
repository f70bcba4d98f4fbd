#include "app/VellumarkApplication.h"

#include "platform/Dialogs.h"

TVellumarkApplication::TVellumarkApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TVellumarkApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
    return false;
  }
}
