// The yardstick for the Windows start-up benchmark: the least a Qt Widgets
// program does to show a window, built with the same Qt as kelvane.exe.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Bare Qt Widgets"));
  window.resize(400, 200);
  window.show();
  return QApplication::exec();
}
