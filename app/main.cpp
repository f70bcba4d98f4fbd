#include "app/VellumarkApplication.h"

#include <QWidget>

int main(int argc, char** argv) {
  TVellumarkApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Vellumark"));
  window.resize(663, 609);
  window.show();
  return app.exec();
}
