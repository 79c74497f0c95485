#pragma once
// frmMsgBox2, the program's own message box window: word-wrapped text sized
// to fit, any list of buttons, the built-in copy and help buttons and the
// "Don't Show this Again" box. The layout comes from msgbox_layout.h; this
// window realises it at the screen's resolution.
#include <QDialog>
#include <array>
#include <string>
#include <vector>

#include "support/msgbox_layout.h"

class QCheckBox;
class QPushButton;

namespace kelvane {

class ErrorHandler;
class HelpLauncher;
class Host;

// picMsgText: a widget that keeps what was printed on it and measures in
// twips with its own font.
class MsgTextSurface : public QWidget, public DrawingSurface {
 public:
  explicit MsgTextSurface(QWidget* parent = nullptr);

  void clear() override;
  void print(const std::string& piece) override;
  double currentY() const override { return y_; }
  double textWidth(const std::string& text) override;
  double textHeight(const std::string& text) override;
  double width() const override;
  double height() const override;
  void setWidth(double twips) override;
  void setHeight(double twips) override;
  double screenWidth() const override;

  int toPixelsX(double twips) const;
  int toPixelsY(double twips) const;
  double toTwipsX(int pixels) const;
  double toTwipsY(int pixels) const;

  struct PrintedLine {
    QString text;
    double top;  // twips
  };
  const std::vector<PrintedLine>& printedLines() const { return lines_; }
  double lineHeight() const;

  // The full message, unwrapped, for the copy button.
  std::string tag;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<PrintedLine> lines_;
  double y_ = 0;
};

class frmMsgBox2 : public QDialog {
  Q_OBJECT

 public:
  // help: the program's help launcher with its current help path; without
  // one the help buttons use the path beside the program.
  frmMsgBox2(Host& host, ErrorHandler& errors, HelpLauncher* help, QWidget* owner);
  ~frmMsgBox2() override;

  // Places every control as computed; sizes and positions the window.
  // origin: top left of the screen the window goes on, in pixels.
  void applyLayout(const MsgBoxLayout& layout, QPoint origin);

  void cmdButton_Click(int index);
  // The window's own ShowHelp.
  void showHelp(const std::string& contextId);

  QWidget* picFrame = nullptr;
  MsgTextSurface* picMsgText = nullptr;
  std::array<QPushButton*, MsgBoxDesign::kButtons> cmdButton{};
  QCheckBox* chkDontShow = nullptr;
  // The help context while open; the caption of the closing button after.
  std::string tag;

 public slots:
  void reject() override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  Host& host_;
  ErrorHandler& errors_;
  HelpLauncher* help_;
  int cancelIndex_ = -1;
};

// MsgBox2: shows the window modally and returns the caption of the button
// that closed it, exactly as it stood in the list ("" when closed by the
// title bar). showAgain in: show the check box; out: false when it was ticked.
std::string msgBox2Qt(Host& host, ErrorHandler& errors, const std::string& text,
                      const std::string& buttonList, const std::string& title, int helpContextId,
                      bool& showAgain, QWidget* owner, HelpLauncher* help = nullptr);

}  // namespace kelvane
