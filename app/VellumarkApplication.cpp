#include "app/VellumarkApplication.h"

#include "platform/Dialogs.h"
#include "platform/Errors.h"

TVellumarkApplication::TVellumarkApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TVellumarkApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
    return false;
  }
}

void TVellumarkApplication::ShowCurrentException() { ::ShowCurrentException(); }
