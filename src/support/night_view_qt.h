#pragma once
// The night view: every window of the program in dark reds on black, so
// that a user beside the telescope keeps the eyes adapted to the dark. All
// of its colours live here. Switching it sets the application's style,
// palette and tooltip palette, which the main window, the dialogs and the
// help window draw with; what draws its own colours (the monitor label, the
// help pages and their images) asks here for its night form.
#include <QColor>
#include <QImage>

class QTextDocument;

namespace kelvane::night {

// No colour channel of any pixel the night view draws goes above this.
inline constexpr int kBrightest = 0xA0;

// A red of the given strength (0 black .. kBrightest), no green or blue.
inline QColor red(int level) { return QColor(level, 0, 0); }
inline QColor text() { return red(kBrightest); }
inline QColor window() { return red(0); }

bool on();
// Switches the whole program; a no-op when already in that view. The first
// call must come before the first window is shown.
void apply(bool on);

// The grey levels of an image as reds up to kBrightest, alpha kept.
QImage toRed(const QImage& image);
// A rich-text page's own colours replaced by the night view's: text and
// links in reds, coloured backgrounds a dark red, borders dim.
void recolour(QTextDocument& document);

}  // namespace kelvane::night
