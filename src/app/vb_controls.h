#pragma once
// Thin wrappers that give Qt widgets the event semantics the program relies
// on: writing a control's value from code runs its change or click handler
// at once, and only when the value really changes.
//  - A line edit's textChanged already fires on a real change only.
//  - A check box holds 0, 1 or 2 (grey); any other value is failure 380.
//  - A combo box runs its selection handler when its position is set from
//    code to a different value, or when the user picks an entry (even the one
//    already selected); inserting, appending or removing entries never runs
//    it, unlike QComboBox's currentIndexChanged.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QString>
#include <functional>

namespace kelvane {

class VbCheckBox : public QCheckBox {
  Q_OBJECT
 public:
  explicit VbCheckBox(const QString& caption, QWidget* parent = nullptr);
  int value() const;
  // Sets 0 (clear), 1 (checked) or 2 (grey); runs the click handler when the
  // value changes. Other values: run-time failure 380.
  void setValue(int value);
  std::function<void()> onClick;

 protected:
  void nextCheckState() override;  // a user's click toggles clear/checked only
};

class VbComboBox : public QComboBox {
  Q_OBJECT
 public:
  explicit VbComboBox(QWidget* parent = nullptr);
  int listCount() const { return count(); }
  QString list(int index) const;  // failure 381-like 9 outside the list
  int listIndex() const { return currentIndex(); }
  // Selects a position (-1: nothing); outside the list is failure 380.
  void setListIndex(int index);
  void appendItem(const QString& text);
  void insertItemAt(int index, const QString& text);
  void insertItemsAt(int index, const QStringList& texts);
  void removeItemAt(int index);
  QString selectedText() const;  // "" when nothing is selected
  std::function<void()> onClick;

 private:
  void silently(const std::function<void()>& change);
  bool quiet_ = false;
};

// A frame whose line runs through the middle of its caption, the caption
// breaking the line, so that children placed just below the caption stay
// clear of it (styles that draw the line below the caption cross them).
class VbFrame : public QGroupBox {
  Q_OBJECT
 public:
  explicit VbFrame(const QString& caption, QWidget* parent = nullptr) : QGroupBox(caption, parent) {}

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace kelvane
