#pragma once

#include <QApplication>

// The application: its notify override is the one top-level error handler. An error that escapes
// an event handler is shown in the error box (with a final "." by the display rule) and the
// program goes on.
class TVellumarkApplication : public QApplication {
public:
  TVellumarkApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
