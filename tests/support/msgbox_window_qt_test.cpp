#include "support/msgbox_window_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>

#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

// Runs script on the box once it is up. A box that never shows fails the
// test; one left open is closed after 5 s.
std::unique_ptr<QTimer> whenShown(std::function<void(frmMsgBox2&)> script) {
  auto timer = std::make_unique<QTimer>();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  QTimer* t = timer.get();
  QObject::connect(t, &QTimer::timeout, t, [t, deadline, script] {
    auto* box = dynamic_cast<frmMsgBox2*>(QApplication::activeModalWidget());
    if (box && box->isVisible()) {
      t->stop();
      QTimer::singleShot(5000, box, [box] { ADD_FAILURE() << "left open", box->reject(); });
      script(*box);
    } else if (std::chrono::steady_clock::now() > deadline) {
      t->stop();
      ADD_FAILURE() << "message box never shown";
    }
  });
  t->start(5);
  return timer;
}

struct MsgBoxWindowTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  bool showAgain = false;

  std::string run(const std::string& text, const std::string& buttons,
                  std::function<void(frmMsgBox2&)> script, QWidget* owner = nullptr) {
    auto driver = whenShown(std::move(script));
    return msgBox2Qt(host, errors, text, buttons, "Title", 0, showAgain, owner);
  }
};

TEST_F(MsgBoxWindowTest, ErrorDialogShowsAllTextCopiesAndAnswersIgnore) {
  const std::string text = ErrorHandler::errorText(75, "Path/File access error", "WriteINIFile", "Module1", 0);
  const auto answer = run(text, "Copy,Abort,Retry,Ignore", [&](frmMsgBox2& box) {
    EXPECT_FALSE(box.chkDontShow->isVisible());
    for (int i = 0; i < 4; ++i) {  // one row below the text, list order, apart
      const QPushButton* b = box.cmdButton[static_cast<std::size_t>(i)];
      EXPECT_TRUE(b->isVisible());
      EXPECT_EQ(b->y(), box.cmdButton[0]->y());
      EXPECT_GE(b->y(), box.picFrame->geometry().bottom());
      if (i > 0) {
        EXPECT_GT(b->x(), box.cmdButton[static_cast<std::size_t>(i - 1)]->geometry().right());
      }
    }
    EXPECT_EQ(box.cmdButton[3]->text(), "Ignore");
    EXPECT_FALSE(box.cmdButton[4]->isVisible());
    EXPECT_NEAR(box.width() - box.cmdButton[3]->geometry().right(), box.picMsgText->toPixelsX(150), 2);
    const MsgTextSurface& pic = *box.picMsgText;
    const QFontMetrics metrics = pic.fontMetrics();
    for (const auto& line : pic.printedLines()) {  // nothing cut off
      EXPECT_LE(pic.toPixelsY(line.top) + metrics.height(), pic.QWidget::height());
      EXPECT_LE(metrics.horizontalAdvance(line.text), pic.QWidget::width());
    }
    if (const char* png = std::getenv("KELVANE_SCREENSHOT")) box.grab().save(QString::fromLocal8Bit(png));
    box.cmdButton[0]->click();  // Copy keeps the window open
    EXPECT_TRUE(box.isVisible());
    box.cmdButton[3]->click();
  });
  EXPECT_EQ(answer, "Ignore");
  EXPECT_TRUE(showAgain);
  EXPECT_EQ(host.clipboard, text);
  ASSERT_EQ(host.count("msgBox"), 1);
  EXPECT_EQ(host.shown[0].text, "Error was copied to your clipboard.  You may now paste it into an email");
  EXPECT_EQ(host.shown[0].title, "Copy to Clipboard Successful");
  EXPECT_EQ(host.shown[0].buttons, mb::OkOnly);
}

TEST_F(MsgBoxWindowTest, AnswerIsTheCaptionOrNothing) {
  for (const bool tick : {true, false}) {
    showAgain = true;
    EXPECT_EQ(run("Saved.", "Ok", [&](frmMsgBox2& box) {
      EXPECT_TRUE(box.chkDontShow->isVisible() && box.cmdButton[0]->isDefault());
      box.chkDontShow->setChecked(tick);
      box.cmdButton[0]->click();
    }), "Ok");
    EXPECT_EQ(showAgain, !tick);
  }
  EXPECT_EQ(run("?", "Copy, Abort", [](frmMsgBox2& b) { b.cmdButton[1]->click(); }), " Abort");
  EXPECT_EQ(run("?", "Yes,No", [](frmMsgBox2& b) { b.close(); }), "");
  EXPECT_EQ(run("?", "Yes,Cancel", [](frmMsgBox2& b) {
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&b, &esc);
  }), "Cancel");
}

TEST_F(MsgBoxWindowTest, CentresOnItsOwnerWindow) {
  QWidget owner;
  owner.setGeometry(200, 150, 700, 500);
  owner.show();
  QPoint centre;
  run("Hello", "OK", [&](frmMsgBox2& box) { centre = box.frameGeometry().center(), box.cmdButton[0]->click(); }, &owner);
  EXPECT_NEAR(centre.x(), owner.frameGeometry().center().x(), 2);
  EXPECT_NEAR(centre.y(), owner.frameGeometry().center().y(), 2);
}

}  // namespace
}  // namespace kelvane
