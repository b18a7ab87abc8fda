// Program entry (being built): until the main window exists this only
// proves that the widgets library links.
#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quelm"));
  return 0;
}
