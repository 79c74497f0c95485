#include "app/qt_host.h"

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "support/help_viewer_qt.h"
#include "support/msgbox_window_qt.h"
#include "support/status_log.h"

namespace kelvane {

QString applicationTitle() { return QStringLiteral("Kelvane"); }

QWidget* QtHost::owner() const {
  return owner_ && owner_->isVisible() ? owner_.data() : nullptr;
}

static QString titleOrDefault(const std::string& title) {
  return title.empty() ? applicationTitle() : QString::fromStdString(title);
}

static void toStderr(const std::string& title, const std::string& text) {
  std::fprintf(stderr, "kelvane: %s: %s\n", titleOrDefault(title).toLocal8Bit().constData(),
               QString::fromStdString(text).toLocal8Bit().constData());
}

int QtHost::msgBox(const std::string& text, int buttons, const std::string& title) {
  log_.flush();
  if (unattended_) {
    toStderr(title, text);
    return buttons == mb::YesNo ? mb::No : mb::Ok;  // the answer that changes nothing
  }
  QMessageBox box(owner());
  box.setWindowTitle(titleOrDefault(title));
  box.setText(QString::fromStdString(text));
  if (buttons == mb::YesNo) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes ? mb::Yes : mb::No;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return mb::Ok;
}

std::string QtHost::inputBox(const std::string& prompt, const std::string& title,
                             const std::string& defaultText) {
  log_.flush();
  if (unattended_) return {};
  bool ok = false;
  const QString text = QInputDialog::getText(owner(), titleOrDefault(title), QString::fromStdString(prompt),
                                             QLineEdit::Normal, QString::fromStdString(defaultText), &ok);
  return ok ? text.toStdString() : std::string();
}

std::string QtHost::msgBox2(const std::string& text, const std::string& buttonList,
                            const std::string& title, int helpContextId, bool& showAgain) {
  log_.flush();
  if (unattended_) {
    toStderr(title, text);
    return "Ignore";
  }
  return msgBox2Qt(*this, *errors_, text, buttonList, title, helpContextId, showAgain, owner(), help_);
}

void QtHost::setClipboardText(const std::string& text) {
  QApplication::clipboard()->clear();
  QApplication::clipboard()->setText(QString::fromStdString(text));
}

void QtHost::showHelp(const std::string& helpFile, int topic) {
  std::string error;
  if (!openHelpViewer(helpFile, topic, error)) msgBox(error, mb::OkOnly, "Help");
}

void QtHost::doEvents() {
  if (!unattended_) passEventQueue();
}

void passEventQueue() {
  // While a mouse button is down, the press may still be on its way to its
  // widget (a handler it set off, such as the brightness box's leave
  // handler, is passing the queue). Its release must not overtake it, or the
  // click is lost: input waits until this pass is over.
  QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents;
  if (QGuiApplication::mouseButtons() != Qt::NoButton) flags |= QEventLoop::ExcludeUserInputEvents;
  QCoreApplication::processEvents(flags);
}

void QtHost::endProgram(int exitCode) {
  if (const auto beforeEnd = std::exchange(beforeEnd_, nullptr)) beforeEnd();
  log_.flush();
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

}  // namespace kelvane
