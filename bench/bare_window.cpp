// The yardstick of bench/startup.sh: an empty Qt 6 main window at the place
// and size the program's main window opens at, and nothing else.
#include <QApplication>
#include <QMainWindow>

#include "base/Config.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Bare window"));
  const quelm::AppConfig place;
  window.move(place.Left, place.Top);
  window.resize(place.Width, place.Height);
  window.show();
  return app.exec();
}
