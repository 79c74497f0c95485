#include "app/vb_controls.h"

#include <QPainter>
#include <QSignalBlocker>

#include "support/runtime_error.h"

namespace kelvane {

VbCheckBox::VbCheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {
  connect(this, &QCheckBox::stateChanged, this, [this](int) {
    if (onClick) onClick();
  });
}

int VbCheckBox::value() const {
  switch (checkState()) {
    case Qt::Checked: return 1;
    case Qt::PartiallyChecked: return 2;
    default: return 0;
  }
}

void VbCheckBox::setValue(int value) {
  switch (value) {
    case 0: setCheckState(Qt::Unchecked); break;
    case 1: setCheckState(Qt::Checked); break;
    case 2: setCheckState(Qt::PartiallyChecked); break;
    default: throw RuntimeError(rt::InvalidPropertyValue);
  }
}

void VbCheckBox::nextCheckState() {
  setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}

VbComboBox::VbComboBox(QWidget* parent) : QComboBox(parent) {
  connect(this, qOverload<int>(&QComboBox::activated), this, [this](int) {
    if (onClick) onClick();
  });
}

QString VbComboBox::list(int index) const {
  if (index < 0 || index >= count()) throw RuntimeError(rt::SubscriptOutOfRange);
  return itemText(index);
}

QString VbComboBox::selectedText() const {
  return currentIndex() < 0 ? QString() : itemText(currentIndex());
}

void VbComboBox::silently(const std::function<void()>& change) {
  const QSignalBlocker block(this);
  change();
}

void VbComboBox::setListIndex(int index) {
  if (index < -1 || index >= count()) throw RuntimeError(rt::InvalidPropertyValue);
  if (index == currentIndex()) return;
  silently([&] { setCurrentIndex(index); });
  if (onClick) onClick();
}

void VbComboBox::appendItem(const QString& text) {
  // QComboBox selects the first entry added to an empty box; the program's
  // lists start with nothing selected.
  const int before = currentIndex();
  silently([&] {
    addItem(text);
    setCurrentIndex(before);
  });
}

void VbComboBox::insertItemAt(int index, const QString& text) {
  if (index < 0 || index > count()) throw RuntimeError(rt::InvalidPropertyValue);
  const int before = currentIndex();
  silently([&] {
    insertItem(index, text);
    // The selected entry stays the same entry; nothing selected stays so.
    setCurrentIndex(before < 0 ? -1 : (index <= before ? before + 1 : before));
  });
}

void VbComboBox::insertItemsAt(int index, const QStringList& texts) {
  if (index < 0 || index > count()) throw RuntimeError(rt::InvalidPropertyValue);
  const int before = currentIndex();
  silently([&] {
    insertItems(index, texts);
    setCurrentIndex(before < 0 ? -1 : (index <= before ? before + texts.size() : before));
  });
}

void VbComboBox::removeItemAt(int index) {
  if (index < 0 || index >= count()) throw RuntimeError(rt::InvalidPropertyValue);
  const int before = currentIndex();
  silently([&] {
    removeItem(index);
    // Removing the selected entry leaves nothing selected (QComboBox would
    // pick a neighbour).
    setCurrentIndex(before == index ? -1 : (index < before ? before - 1 : before));
  });
}

void VbFrame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QFontMetrics metrics = fontMetrics();
  // An etched line: a shadow line with a light one inside it. The styles'
  // own group box frames put their line below the caption, whatever rect
  // they are given, so the frame is drawn here.
  const QRect box = rect().adjusted(0, metrics.height() / 2, -1, -1);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(box.adjusted(0, 0, -1, -1));
  painter.setPen(palette().color(QPalette::Light));
  painter.drawRect(box.adjusted(1, 1, 0, 0));
  if (title().isEmpty()) return;
  const int pad = metrics.horizontalAdvance(QLatin1Char(' ')) / 2 + 1;
  const QRect caption(metrics.height() / 2, 0, metrics.horizontalAdvance(title()) + 2 * pad, metrics.height());
  painter.fillRect(caption, palette().brush(backgroundRole()));
  style()->drawItemText(&painter, caption, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(),
                        title(), foregroundRole());
}

}  // namespace kelvane
