#include "support/night_view_qt.h"

#include <QApplication>
#include <QGraphicsEffect>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QToolTip>
#include <algorithm>
#include <vector>

namespace kelvane::night {

namespace {

bool active = false;

// What the day view had before the first switch, to return to it.
struct DayView {
  bool saved = false;
  QString style;
  QPalette toolTips;
};
DayView& dayView() {
  static DayView day;
  return day;
}

// Shades: text and links at the top; edges, fields and raised areas well
// below it, so that the eye meets little light beside the text.
constexpr int kLink = kBrightest;
constexpr int kVisited = 0x78;
constexpr int kSelection = 0x80;
constexpr int kDimText = 0x58;
constexpr int kLight = 0x50;
constexpr int kMidlight = 0x40;
constexpr int kButton = 0x30;
constexpr int kMid = 0x28;
constexpr int kRaised = 0x24;
constexpr int kBase = 0x18;

QPalette nightPalette() {
  QPalette p;
  const auto set = [&p](QPalette::ColorGroup group, QPalette::ColorRole role, int level) {
    p.setColor(group, role, red(level));
  };
  for (int g = 0; g < QPalette::NColorGroups; ++g) {
    const auto group = static_cast<QPalette::ColorGroup>(g);
    const bool disabled = group == QPalette::Disabled;
    // Every role first (also those of newer Qt versions), then each its own.
    for (int r = 0; r < QPalette::NColorRoles; ++r)
      if (r != QPalette::NoRole) set(group, static_cast<QPalette::ColorRole>(r), kMid);
    const int text = disabled ? kLight : kBrightest;
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::BrightText,
                      QPalette::ToolTipText})
      set(group, role, text);
    set(group, QPalette::Window, 0);
    set(group, QPalette::Shadow, 0);
    set(group, QPalette::Base, disabled ? kBase / 2 : kBase);
    set(group, QPalette::AlternateBase, kRaised);
    set(group, QPalette::ToolTipBase, kRaised);
    set(group, QPalette::Button, disabled ? kRaised : kButton);
    set(group, QPalette::Light, kLight);
    set(group, QPalette::Midlight, kMidlight);
    set(group, QPalette::Dark, kBase);
    set(group, QPalette::Highlight, disabled ? kMid : kSelection);
    set(group, QPalette::HighlightedText, 0);
    set(group, QPalette::Link, kLink);
    set(group, QPalette::LinkVisited, kVisited);
    set(group, QPalette::PlaceholderText, kDimText);
  }
  return p;
}

QImage redImage(const QImage& image, int brightest) {
  QImage out = image.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < out.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < out.width(); ++x)
      line[x] = qRgba(qGray(line[x]) * brightest / 255, 0, 0, qAlpha(line[x]));
  }
  return out;
}

// An icon's pixmaps as reds, its disabled form darker.
QIcon redIcon(const QIcon& icon) {
  QList<QSize> sizes = icon.availableSizes();
  if (sizes.isEmpty()) sizes << QSize(16, 16) << QSize(32, 32);
  QIcon out;
  for (const QSize& s : sizes) {
    const QImage image = icon.pixmap(s).toImage();
    out.addPixmap(QPixmap::fromImage(redImage(image, kBrightest)), QIcon::Normal);
    out.addPixmap(QPixmap::fromImage(redImage(image, kLight)), QIcon::Disabled);
  }
  return out;
}

// Qt draws a text box's cursor by inverting what lies beneath it, which on
// a dark red is a bright cyan line: every pixel of the box is taken to a
// red as bright as its brightest channel, so the cursor turns red and the
// rest stays as it was.
class RedFilter : public QGraphicsEffect {
 protected:
  void draw(QPainter* painter) override {
    QPoint offset;
    QImage image = sourcePixmap(Qt::DeviceCoordinates, &offset, NoPad).toImage().convertToFormat(
        QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < image.height(); ++y) {
      auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
      for (int x = 0; x < image.width(); ++x)
        line[x] = qRgba(std::min({std::max({qRed(line[x]), qGreen(line[x]), qBlue(line[x])}), kBrightest,
                                  qAlpha(line[x])}),
                        0, 0, qAlpha(line[x]));
    }
    painter->save();
    painter->setWorldTransform(QTransform());
    painter->drawImage(offset, image);
    painter->restore();
  }
};

// Fusion draws every control with the palette's colours (native styles, the
// Windows ones and Breeze, keep some of their own); its icons, those of
// dialog buttons, message boxes and the help window's tool bar, are drawn
// in colour and are turned into reds here.
class NightStyle : public QProxyStyle {
 public:
  NightStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}
  QIcon standardIcon(StandardPixmap which, const QStyleOption* option, const QWidget* widget) const override {
    return redIcon(QProxyStyle::standardIcon(which, option, widget));
  }
  QPixmap generatedIconPixmap(QIcon::Mode mode, const QPixmap& pixmap, const QStyleOption* option) const override {
    const QImage image = QProxyStyle::generatedIconPixmap(mode, pixmap, option).toImage();
    return QPixmap::fromImage(redImage(image, mode == QIcon::Disabled ? kLight : kBrightest));
  }
  void polish(QWidget* widget) override {
    QProxyStyle::polish(widget);
    if (qobject_cast<QLineEdit*>(widget) && !widget->graphicsEffect()) widget->setGraphicsEffect(new RedFilter);
  }
  void unpolish(QWidget* widget) override {
    if (dynamic_cast<RedFilter*>(widget->graphicsEffect())) widget->setGraphicsEffect(nullptr);
    QProxyStyle::unpolish(widget);
  }
};

}  // namespace

bool on() { return active; }

void apply(bool on) {
  if (on == active || !qobject_cast<QApplication*>(QCoreApplication::instance())) return;
  DayView& day = dayView();
  if (!day.saved) {
    day.style = QApplication::style()->name();
    day.toolTips = QToolTip::palette();
    day.saved = true;
  }
  // Set first: windows that draw their own colours ask for it while the
  // palette change reaches them.
  active = on;
  if (on) {
    QApplication::setStyle(new NightStyle);
    QApplication::setPalette(nightPalette());
    QToolTip::setPalette(nightPalette());
  } else {
    QApplication::setStyle(day.style);
    // A palette that sets nothing gives back the style's and desktop's own.
    QApplication::setPalette(QPalette());
    QToolTip::setPalette(day.toolTips);
  }
}

QImage toRed(const QImage& image) { return redImage(image, kBrightest); }

void recolour(QTextDocument& document) {
  const QBrush dimEdge(red(kLight));
  const QBrush raised(red(kRaised));
  QTextCursor cursor(&document);
  cursor.beginEditBlock();

  // The page's own background goes; boxes set apart by a background of
  // their own (cells, code) keep a raised one.
  std::vector<QTextFrame*> frames{document.rootFrame()};
  for (std::size_t i = 0; i < frames.size(); ++i) {
    QTextFrame* frame = frames[i];
    for (QTextFrame* child : frame->childFrames()) frames.push_back(child);
    QTextFrameFormat format = frame->frameFormat();
    if (frame == document.rootFrame()) format.clearBackground();
    else if (format.hasProperty(QTextFormat::BackgroundBrush)) format.setBackground(raised);
    if (format.hasProperty(QTextFormat::FrameBorderBrush)) format.setBorderBrush(dimEdge);
    frame->setFrameFormat(format);
    auto* table = qobject_cast<QTextTable*>(frame);
    for (int row = 0; table && row < table->rows(); ++row)
      for (int column = 0; column < table->columns(); ++column) {
        QTextTableCell cell = table->cellAt(row, column);
        if (cell.row() != row || cell.column() != column) continue;  // spanned
        QTextTableCellFormat cellFormat = cell.format().toTableCellFormat();
        if (cellFormat.hasProperty(QTextFormat::BackgroundBrush)) cellFormat.setBackground(raised);
        for (int edge = QTextFormat::TableCellTopBorderBrush; edge <= QTextFormat::TableCellRightBorderBrush; ++edge)
          if (cellFormat.hasProperty(edge)) cellFormat.setProperty(edge, dimEdge);
        cell.setFormat(cellFormat);
      }
  }

  struct Piece {
    int position, length;
    QTextCharFormat format;
  };
  std::vector<Piece> pieces;
  for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
    cursor.setPosition(block.position());
    QTextBlockFormat blockFormat = block.blockFormat();
    if (blockFormat.hasProperty(QTextFormat::BackgroundBrush)) blockFormat.setBackground(raised);
    cursor.setBlockFormat(blockFormat);
    QTextCharFormat marks = block.charFormat();  // list bullets and numbers
    marks.setForeground(text());
    cursor.setBlockCharFormat(marks);
    for (auto it = block.begin(); !it.atEnd(); ++it)
      pieces.push_back({it.fragment().position(), it.fragment().length(), it.fragment().charFormat()});
  }
  for (auto& [position, length, format] : pieces) {
    cursor.setPosition(position);
    cursor.setPosition(position + length, QTextCursor::KeepAnchor);
    const QColor ink = format.isAnchor() ? red(kLink) : text();
    format.setForeground(ink);
    if (format.hasProperty(QTextFormat::TextUnderlineColor)) format.setUnderlineColor(ink);
    if (format.hasProperty(QTextFormat::BackgroundBrush)) format.setBackground(raised);
    cursor.setCharFormat(format);
  }
  cursor.endEditBlock();
}

}  // namespace kelvane::night
