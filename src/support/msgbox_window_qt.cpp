#include "support/msgbox_window_qt.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <cstdio>
#include <exception>

#include "support/error_handler.h"
#include "support/help_launcher.h"
#include "support/host.h"

namespace kelvane {

namespace {

constexpr double kTwipsPerInch = 1440.0;

// Lines of a piece of text; CR LF (or a lone LF) ends a line.
QStringList linesOf(const std::string& text) {
  QStringList lines = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).split('\n');
  for (QString& line : lines)
    if (line.endsWith('\r')) line.chop(1);
  return lines;
}

std::string lowerCase(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

}  // namespace

MsgTextSurface::MsgTextSurface(QWidget* parent) : QWidget(parent) {}

int MsgTextSurface::toPixelsX(double twips) const { return qRound(twips * logicalDpiX() / kTwipsPerInch); }
int MsgTextSurface::toPixelsY(double twips) const { return qRound(twips * logicalDpiY() / kTwipsPerInch); }
double MsgTextSurface::toTwipsX(int pixels) const { return pixels * kTwipsPerInch / logicalDpiX(); }
double MsgTextSurface::toTwipsY(int pixels) const { return pixels * kTwipsPerInch / logicalDpiY(); }

double MsgTextSurface::lineHeight() const { return toTwipsY(fontMetrics().lineSpacing()); }

void MsgTextSurface::clear() {
  lines_.clear();
  y_ = 0;
  update();
}

void MsgTextSurface::print(const std::string& piece) {
  for (const QString& line : linesOf(piece)) {
    lines_.push_back({line, y_});
    y_ += lineHeight();
  }
  update();
}

double MsgTextSurface::textWidth(const std::string& text) {
  const QFontMetrics metrics = fontMetrics();
  int widest = 0;
  for (const QString& line : linesOf(text)) widest = std::max(widest, metrics.horizontalAdvance(line));
  return toTwipsX(widest);
}

double MsgTextSurface::textHeight(const std::string& text) {
  return static_cast<double>(linesOf(text).size()) * lineHeight();
}

double MsgTextSurface::width() const { return toTwipsX(QWidget::width()); }
double MsgTextSurface::height() const { return toTwipsY(QWidget::height()); }
void MsgTextSurface::setWidth(double twips) { resize(std::max(0, toPixelsX(twips)), QWidget::height()); }
void MsgTextSurface::setHeight(double twips) { resize(QWidget::width(), std::max(0, toPixelsY(twips))); }

double MsgTextSurface::screenWidth() const {
  const QScreen* s = screen();
  return s ? toTwipsX(s->geometry().width()) : 0;
}

void MsgTextSurface::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  const int ascent = fontMetrics().ascent();
  for (const PrintedLine& line : lines_) painter.drawText(QPoint(0, toPixelsY(line.top) + ascent), line.text);
}

frmMsgBox2::frmMsgBox2(Host& host, ErrorHandler& errors, HelpLauncher* help, QWidget* owner)
    : QDialog(owner ? owner->window() : nullptr), host_(host), errors_(errors), help_(help) {
  const MsgBoxDesign design;
  picFrame = new QWidget(this);
  picMsgText = new MsgTextSurface(picFrame);
  auto px = [this](double twips) { return picMsgText->toPixelsX(twips); };
  auto py = [this](double twips) { return picMsgText->toPixelsY(twips); };
  picFrame->setGeometry(0, 0, px(design.frameWidth), py(design.frameHeight));
  picMsgText->resize(px(design.picWidth), py(design.picHeight));
  for (int i = 0; i < MsgBoxDesign::kButtons; ++i) {
    auto* button = new QPushButton(this);
    button->resize(px(design.buttonWidth), py(design.buttonHeight));
    button->hide();
    connect(button, &QPushButton::clicked, this, [this, i] { cmdButton_Click(i); });
    cmdButton[static_cast<std::size_t>(i)] = button;
  }
  chkDontShow = new QCheckBox(QStringLiteral("Don't Show this Again"), this);
  chkDontShow->setGeometry(px(design.checkLeft), 0, px(design.checkWidth), py(design.checkHeight));
  chkDontShow->hide();
  setSizeGripEnabled(false);
}

frmMsgBox2::~frmMsgBox2() = default;

void frmMsgBox2::applyLayout(const MsgBoxLayout& layout, QPoint origin) {
  auto px = [this](double twips) { return picMsgText->toPixelsX(twips); };
  auto py = [this](double twips) { return picMsgText->toPixelsY(twips); };
  picFrame->setGeometry(px(layout.frame.left), py(layout.frame.top), px(layout.frame.width),
                        py(layout.frame.height));
  // The surface already has its size: the layout was computed on it.
  picMsgText->move(px(layout.text.left), py(layout.text.top));
  chkDontShow->setGeometry(px(layout.check.left), py(layout.check.top), px(layout.check.width),
                           py(layout.check.height));
  chkDontShow->setVisible(layout.checkVisible);
  cancelIndex_ = -1;
  for (std::size_t i = 0; i < layout.buttons.size() && i < cmdButton.size(); ++i) {
    const ButtonPlacement& b = layout.buttons[i];
    QPushButton* button = cmdButton[i];
    button->setText(QString::fromStdString(b.caption));
    button->setGeometry(px(b.left), py(b.top), px(b.width), py(b.height));
    button->setDefault(b.isDefault);
    if (b.isCancel) cancelIndex_ = static_cast<int>(i);
    button->show();
  }
  setFixedSize(px(layout.innerWidth), py(layout.innerHeight));
  move(origin + QPoint(px(layout.window.left), py(layout.window.top)));
}

void frmMsgBox2::cmdButton_Click(int index) {
  // No trap here: a failure in a button is not reported as an error, but it
  // must not unwind through the event loop either.
  try {
    const std::string caption = cmdButton[static_cast<std::size_t>(index)]->text().toStdString();
    const std::string lower = lowerCase(caption);
    if (lower == "help" || lower == "read faq") {
      showHelp(tag);
    } else if (lower == "copy") {
      host_.setClipboardText(picMsgText->tag);
      host_.msgBox("Error was copied to your clipboard.  You may now paste it into an email",
                   mb::OkOnly, "Copy to Clipboard Successful");
    } else {
      tag = caption;
      accept();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cmdButton_Click: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "cmdButton_Click: unknown failure\n");
  }
}

void frmMsgBox2::showHelp(const std::string& contextId) {
  if (help_) {
    help_->windowShowHelp(contextId);
    return;
  }
  HelpLauncher startupHelp(errors_, host_);
  startupHelp.setStartupPath();
  startupHelp.windowShowHelp(contextId);
}

void frmMsgBox2::reject() {
  // Closed without a button (title bar): no caption.
  tag.clear();
  QDialog::reject();
}

void frmMsgBox2::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    // Esc presses the cancel button, and does nothing without one.
    if (cancelIndex_ >= 0) cmdButton[static_cast<std::size_t>(cancelIndex_)]->click();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

std::string msgBox2Qt(Host& host, ErrorHandler& errors, const std::string& text,
                      const std::string& buttonList, const std::string& title, int helpContextId,
                      bool& showAgain, QWidget* owner, HelpLauncher* help) {
  frmMsgBox2 form(host, errors, help, owner);
  form.setWindowTitle(QString::fromStdString(title));
  form.picMsgText->tag = text;
  MsgTextSurface& pic = *form.picMsgText;

  QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
  const QRect screenRect = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
  MsgBoxLayoutInput in;
  in.text = text;
  in.buttonList = buttonList;
  in.showAgain = showAgain;
  in.screenWidth = pic.toTwipsX(screenRect.width());
  in.screenHeight = pic.toTwipsY(screenRect.height());
  if (owner) {
    const QWidget* ownerWindow = owner->window();
    const QRect r = ownerWindow->frameGeometry();
    // Qt sizes the inside of a window and the window manager adds its frame;
    // the owner's frame is the best guess of ours before we are shown.
    if (ownerWindow->isVisible()) {
      in.borderWidth = pic.toTwipsX(r.width() - ownerWindow->width());
      in.borderHeight = pic.toTwipsY(r.height() - ownerWindow->height());
    }
    in.owner = TwipsRect{pic.toTwipsX(r.x() - screenRect.x()), pic.toTwipsY(r.y() - screenRect.y()),
                         pic.toTwipsX(r.width()), pic.toTwipsY(r.height())};
  }

  const MsgBoxLayout layout = computeMsgBox2Layout(errors, in, pic);
  if (!layout.complete) return {};
  Trap trap(errors, "MsgBx2", "MsgBox2");
  if (!trap([&] { form.applyLayout(layout, screenRect.topLeft()); })) return {};
  form.tag = std::to_string(helpContextId);
  form.exec();
  showAgain = !form.chkDontShow->isChecked();
  return form.tag;
}

}  // namespace kelvane
