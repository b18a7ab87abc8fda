// The yardstick of bench/startup.sh: an empty Qt 6 main window at the place
// and size the program's main window opens at, and nothing else. With
// --text it shows one line of text, the least any real window shows.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

#include "base/Config.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QMainWindow window;
  window.setWindowTitle(QStringLiteral("Bare window"));
  const quelm::AppConfig place;
  window.move(place.Left, place.Top);
  window.resize(place.Width, place.Height);
  if (QApplication::arguments().contains(QStringLiteral("--text")))
    window.setCentralWidget(new QLabel(QStringLiteral("DeviceID:")));
  window.show();
  return app.exec();
}
