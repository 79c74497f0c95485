#include "support/msgbox_window_qt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <functional>

#include "support/error_handler.h"
#include "support/status_log.h"
#include "testkit/scripted_host.h"

namespace kelvane {
namespace {

struct MsgBoxWindowTest : ::testing::Test {
  testkit::ScriptedHost host;
  StatusLog log;
  ErrorHandler errors{host, log};
  bool showAgain = false;

  // Runs script on the box once it is up; the script must close it.
  std::string run(const std::string& text, const std::string& buttons,
                  std::function<void(frmMsgBox2&)> script, QWidget* owner = nullptr) {
    QObject guard;
    bool shown = false;
    QTimer::singleShot(0, &guard, [&] {
      auto* box = qobject_cast<frmMsgBox2*>(QApplication::activeModalWidget());
      if (!(shown = box && box->isVisible())) return;
      script(*box);
      if (box->isVisible()) ADD_FAILURE() << "left open", box->reject();
    });
    const std::string answer = msgBox2Qt(host, errors, text, buttons, "Title", 0, showAgain, owner);
    EXPECT_TRUE(shown);
    return answer;
  }
};

// The layout's numbers are the core's (msgbox_layout_test); here: the real
// font's text fits what it was measured for, and the buttons act.
TEST_F(MsgBoxWindowTest, ErrorDialogShowsAllTextCopiesAndAnswersIgnore) {
  const std::string text = ErrorHandler::errorText(75, "Path/File access error", "WriteINIFile", "Module1", 0);
  const auto answer = run(text, "Copy,Abort,Retry,Ignore", [&](frmMsgBox2& box) {
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
  EXPECT_EQ(host.clipboard, text);
  ASSERT_EQ(host.count("msgBox"), 1);
  EXPECT_EQ(host.shown[0].text, "Error was copied to your clipboard.  You may now paste it into an email");
  EXPECT_EQ(host.shown[0].title, "Copy to Clipboard Successful");
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
