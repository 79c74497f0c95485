// Window options and the status view toggle.
#include <QImage>
#include <QKeyEvent>
#include <qpa/qwindowsysteminterface.h>

#include "app/main_window_fixture.h"
#include "device/protocol.h"

namespace kelvane::testkit {
namespace {

using OptionsTest = MainWindowTest;

void release(QWidget* target, int key, Qt::KeyboardModifiers modifiers) {
  QKeyEvent event(QEvent::KeyRelease, key, modifiers);
  QApplication::sendEvent(target, &event);
}

TEST_F(OptionsTest, AltDTogglesTheStatusViewOnlyWithAltAlone) {
  FrmMDI& w = started();
  w.show();
  QApplication::setActiveWindow(&w);
  w.txtBrightness->setFocus();
  QApplication::processEvents();
  QWidget* target = QApplication::focusWidget() ? QApplication::focusWidget() : &w;
  // Logging, the outer height (title bar and borders included, once the
  // frame is known) and the view's visibility.
  const auto state = [&] { return std::tuple(log.showStatus(), w.frameGeometry().height(), w.txtStatus->isVisible()); };
  const auto closed = std::tuple(false, w.twipsToPixels(FrmMDI::kHeightClosed), false);
  EXPECT_EQ(state(), closed);

  for (auto modifiers : {Qt::KeyboardModifiers(Qt::NoModifier), Qt::ControlModifier | Qt::AltModifier,
                         Qt::ShiftModifier | Qt::AltModifier}) {
    release(target, Qt::Key_D, modifiers);
  }
  release(target, Qt::Key_Alt, Qt::NoModifier);  // Alt released before D
  EXPECT_EQ(state(), closed);

  // Pressed as the window system delivers it: the box does not take the "d".
  w.txtBrightness->setText(QStringLiteral("100"));
  w.txtBrightness->setCursorPosition(2);
  for (auto type : {QEvent::KeyPress, QEvent::KeyRelease})
    QWindowSystemInterface::handleKeyEvent<QWindowSystemInterface::SynchronousDelivery>(
        w.windowHandle(), type, Qt::Key_D, Qt::AltModifier, QStringLiteral("d"));
  EXPECT_EQ(w.txtBrightness->text(), "100");
  EXPECT_EQ(state(), std::tuple(true, w.twipsToPixels(FrmMDI::kHeightOpen), true));
  log.message("first");
  log.flush();

  release(target, Qt::Key_D, Qt::AltModifier);
  EXPECT_EQ(state(), closed);
  log.message("dropped while closed");

  release(target, Qt::Key_D, Qt::AltModifier);
  log.message("second");
  log.flush();
  EXPECT_EQ(w.txtStatus->toPlainText().toStdString(), "10:00:00: second\n10:00:00: first\n");
}

TEST_F(OptionsTest, ThePresetFrameDrawsNothingWhereItsRowCaptionsSit) {
  FrmMDI& w = started();
  const QColor unpainted(Qt::magenta);
  QImage frame(w.fraPreset->size(), QImage::Format_RGB32);
  frame.fill(unpainted);
  w.fraPreset->render(&frame, QPoint(), QRegion(), QWidget::RenderFlags());  // the frame alone
  for (int n = 2; n <= 5; ++n) {
    const QLabel* label = w.Label[static_cast<std::size_t>(n)];
    const QRect place = label->geometry();
    for (int y = place.top(); y <= place.bottom(); ++y)
      for (int x = place.left(); x <= place.right(); ++x)
        ASSERT_EQ(frame.pixelColor(x, y), unpainted) << label->text().toStdString() << " " << x << "," << y;
  }
}

TEST_F(OptionsTest, TogglingAnOptionSavesAndSendsTheBrightnessAgain) {
  FrmMDI& w = started();
  clearSent();
  const int before = w.settingsWrites();
  w.chkTurnOff->click();
  EXPECT_TRUE(w.chkTurnOff->value() == 0 && w.settingsWrites() - before == 1);
  EXPECT_EQ(sentValues(), (std::vector<int>{100}));

  w.chkKeeponTop->click();
  EXPECT_TRUE(w.stayOnTop() && (w.windowFlags() & Qt::WindowStaysOnTopHint) && w.settingsWrites() - before == 2);
  w.chkKeeponTop->click();
  EXPECT_FALSE(w.windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST_F(OptionsTest, KeepInFrontKeepsAVisibleWindowInPlaceWithItsFocus) {
  FrmMDI& w = started();
  w.show();
  w.move(40, 50);
  w.txtDuration->setFocus();
  QApplication::processEvents();
  const QPoint where = w.pos();
  w.chkKeeponTop->setValue(1);
  QApplication::processEvents();
  EXPECT_TRUE(w.isVisible() && w.focusWidget() == w.txtDuration);
  EXPECT_EQ(w.pos(), where);
}

TEST_F(OptionsTest, CheckBoxesTakeOnlyTheirThreeValues) {
  FrmMDI& w = started();
  w.chkKeeponTop->setValue(2);
  EXPECT_EQ(w.chkKeeponTop->value(), 2);
  EXPECT_FALSE(w.stayOnTop());  // the grey state is not "checked"
  EXPECT_THROW(w.chkKeeponTop->setValue(3), RuntimeError);
  w.chkKeeponTop->click();  // a user's click from grey checks it
  EXPECT_EQ(w.chkKeeponTop->value(), 1);
}

}  // namespace
}  // namespace kelvane::testkit
