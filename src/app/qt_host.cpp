#include "app/qt_host.h"

#include <QApplication>
#include <QClipboard>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <cstdlib>

#include "support/status_log.h"

namespace kelvane {

QString applicationTitle() { return QStringLiteral("Kelvane"); }

QWidget* QtHost::owner() const {
  return owner_ && owner_->isVisible() ? owner_.data() : nullptr;
}

static QString titleOrDefault(const std::string& title) {
  return title.empty() ? applicationTitle() : QString::fromStdString(title);
}

int QtHost::msgBox(const std::string& text, int buttons, const std::string& title) {
  log_.flush();
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
  bool ok = false;
  const QString text = QInputDialog::getText(owner(), titleOrDefault(title), QString::fromStdString(prompt),
                                             QLineEdit::Normal, QString::fromStdString(defaultText), &ok);
  return ok ? text.toStdString() : std::string();
}

std::string QtHost::msgBox2(const std::string& text, const std::string& buttonList,
                            const std::string& title, int, bool& showAgain) {
  log_.flush();
  QMessageBox box(owner());
  box.setWindowTitle(QString::fromStdString(title));
  box.setText(QString::fromStdString(text));
  const QStringList captions = QString::fromStdString(buttonList).split(QLatin1Char(','));
  std::vector<QPushButton*> buttons;
  for (const QString& c : captions) buttons.push_back(box.addButton(c, QMessageBox::ActionRole));
  for (;;) {
    box.exec();
    auto* clicked = box.clickedButton();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      if (clicked != buttons[i]) continue;
      if (captions[static_cast<int>(i)].toLower() == QStringLiteral("copy")) {
        setClipboardText(text);
        msgBox("Error was copied to your clipboard.  You may now paste it into an email", mb::OkOnly,
               "Copy to Clipboard Successful");
        break;
      }
      showAgain = true;
      return captions[static_cast<int>(i)].toStdString();
    }
    if (!clicked) break;
  }
  showAgain = true;
  return {};
}

void QtHost::setClipboardText(const std::string& text) {
  QApplication::clipboard()->clear();
  QApplication::clipboard()->setText(QString::fromStdString(text));
}

void QtHost::showHelp(const std::string& helpFile, int topic) {
  msgBox("Help topic " + std::to_string(topic) + " is in " + helpFile, mb::OkOnly, "Help");
}

void QtHost::doEvents() { QCoreApplication::processEvents(); }

void QtHost::endProgram(int exitCode) {
  log_.flush();
  std::fflush(nullptr);
  std::_Exit(exitCode);
}

}  // namespace kelvane
