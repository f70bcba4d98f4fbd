#include "app/VellumarkApplication.h"

#include "platform/Dialogs.h"
#include "platform/Errors.h"

#include <exception>

TVellumarkApplication::TVellumarkApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TVellumarkApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
    return false;
  }
}

void TVellumarkApplication::ShowCurrentException() {
  QString message;
  try {
    throw;
  } catch (const Exception& e) {
    message = e.Message();
  } catch (const std::bad_alloc&) {
    message = QStringLiteral("Out of memory");
  } catch (const std::exception& e) {
    message = QString::fromUtf8(e.what());
  } catch (...) {
    message = QStringLiteral("Unknown error");
  }
  Dialogs().ShowError(errorDisplayText(message));
}
