#include "app/frm_mdi.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QShortcut>
#include <QStyleOptionButton>

#include <algorithm>

#include "support/error_handler.h"
#include "support/file_helpers.h"
#include "support/host.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
QFont sansSerif(double points, bool bold = false) {
  QFont f(QStringLiteral("MS Sans Serif"));
  f.setStyleHint(QFont::SansSerif);
  f.setPointSizeF(points);
  f.setBold(bold);
  return f;
}
// The window's font is rarely installed outside Windows and its stand-ins run
// wider: shrink a caption's font until it fits the place the layout gives it.
int captionWidth(const QWidget* w) {
  if (const auto* b = qobject_cast<const QPushButton*>(w)) {
    // Buttons have a minimum size hint: measure the room the style leaves
    // for the caption instead (the Windows styles leave less than Fusion).
    QStyleOptionButton option;
    option.initFrom(b);
    const QRect inside = b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b);
    return b->fontMetrics().horizontalAdvance(b->text()) + std::max(6, b->width() - inside.width() + 2);
  }
  return w->sizeHint().width();
}

void fitCaption(QWidget* w) {
  QFont f = w->font();
  while (captionWidth(w) > w->width() && f.pointSizeF() > 6.0) {
    f.setPointSizeF(f.pointSizeF() - 0.25);
    w->setFont(f);
  }
}
}  // namespace

FrmMDI::FrmMDI(Host& host, StatusLog& log, ErrorHandler& errors, HidPlatform& platform,
               FrmMDIOptions options, QWidget* parent)
    : QWidget(parent),
      host_(host),
      log_(log),
      errors_(errors),
      options_(std::move(options)),
      engine_(platform, log, errors),
      help_(errors, host,
            HelpEnvironment{[this] { return options_.programFolder; }, [] { return getTempDir(); },
                            [](const std::string& path) { return isLocalFileSystemPath(path); },
                            [this] { return options_.dataFolder; }}) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) dpi_ = screen->logicalDotsPerInchY();
  if (dpi_ <= 0) dpi_ = 96.0;
  engine_.link().readTimeoutMs = options_.readTimeoutMs;
  engine_.setEventPass([this] { host_.doEvents(); });
  // The log's view and file are brought up to date whenever the program is
  // idle rather than on every line; a file write held back by its pace comes
  // when it is due even if nothing else happens by then.
  auto* logPace = new QTimer(this);
  logPace->setSingleShot(true);
  const auto logIdle = [this, logPace] {
    const auto wait = log_.idle();
    if (wait.count() > 0 && !logPace->isActive()) logPace->start(wait);
  };
  connect(logPace, &QTimer::timeout, this, logIdle);
  // A burst of work ends when the event loop is about to wait: a dimmer that
  // fell silent during it is searched for again on the next action. Start-up
  // is one burst, also while its notices wait for the user.
  if (auto* dispatcher = QAbstractEventDispatcher::instance())
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this, logIdle] {
      if (started_) engine_.settle();
      logIdle();
    });
  buildControls();
  // Abort ends the program without the unload handling: the panel is turned
  // off if asked, but the window's state is not saved on the way out; what
  // earlier clicks posted is written all the same.
  errors_.setMainWindowShutDown([this] {
    ending_ = true;
    shutDown();
    flushSettings();
  });
  settings_.setFailureNotice([this] {
    QMetaObject::invokeMethod(this, [this] { pollSettings(); }, Qt::QueuedConnection);
  });
  log_.setViewSink([this](const std::string& text) {
    txtStatus->setPlainText(QString::fromStdString(text));
  });
}

FrmMDI::~FrmMDI() {
  // No notice may reach the window from the writer thread once it is gone.
  settings_.setFailureNotice(nullptr);
  flushSettings();
  errors_.setMainWindowShutDown(nullptr);
  log_.setViewSink(nullptr);
}

int FrmMDI::twipsToPixels(double twips) const {
  return static_cast<int>(twips * dpi_ / 1440.0 + 0.5);
}

void FrmMDI::place(QWidget* w, int left, int top, int width, int height) {
  w->setGeometry(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width), twipsToPixels(height));
}

void FrmMDI::buildControls() {
  setFont(sansSerif(8.25));
  // Fixed single border, no maximise button.
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

  Label[0] = new QLabel(QStringLiteral("Panel Brightness"), this);
  Label[0]->setFont(sansSerif(8.25, true));
  place(Label[0], 3120, 120, 1440, 195);

  lblStatus = new QLabel(QStringLiteral("Current Value"), this);
  place(lblStatus, 4680, 120, 960, 195);

  const auto stepButton = [this](const char* caption, int left, int width) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    b->setFont(sansSerif(12, true));
    place(b, left, 480, width, 315);
    return b;
  };
  cmdDim2 = stepButton("- -", 3120, 495);
  cmdDim1 = stepButton("-", 3720, 375);
  txtBrightness = new QLineEdit(QStringLiteral("100"), this);
  txtBrightness->setFont(sansSerif(9.75));
  place(txtBrightness, 4200, 480, 735, 315);
  cmdBright1 = stepButton("+", 5040, 375);
  cmdBright2 = stepButton("++", 5520, 495);

  Label[1] = new QLabel(QStringLiteral("Exposure Duration"), this);
  Label[1]->setFont(sansSerif(8.25, true));
  place(Label[1], 3120, 1080, 1575, 195);
  txtDuration = new QLineEdit(this);
  place(txtDuration, 4800, 1035, 1215, 285);
#ifdef _WIN32
  // Qt 6.4 centres a line edit's text by the ink height the GDI font engine
  // gives, which can exceed these boxes' fixed height: the text is then drawn
  // outside the box, which looks empty. At the top it shows.
  for (QLineEdit* box : {txtBrightness, txtDuration}) box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
#endif

  cmdSavePreset = new QPushButton(QStringLiteral("Save Preset"), this);
  place(cmdSavePreset, 3120, 1560, 2895, 375);

  chkKeeponTop = new VbCheckBox(QStringLiteral("Keep Kelvane in front"), this);
  place(chkKeeponTop, 3120, 2160, 2775, 255);
  chkTurnOff = new VbCheckBox(QStringLiteral("Turn off Panel on exit"), this);
  place(chkTurnOff, 3120, 2520, 1935, 255);
  cmdHelp = new QPushButton(QStringLiteral("Help"), this);
  place(cmdHelp, 5280, 2520, 855, 375);

  fraPreset = new VbFrame(QStringLiteral("Presets"), this);
  fraPreset->setFont(sansSerif(8.25, true));
  place(fraPreset, 120, 120, 2775, 2775);
  const char* categories[] = {"Telescope", "Camera", "Binning Level", "Filter"};
  for (int n = 1; n <= 4; ++n) {
    const int labelTop = 240 + (n - 1) * 600;
    const int rowTop = 480 + (n - 1) * 600;
    QLabel* label = new QLabel(QString::fromLatin1(categories[n - 1]), fraPreset);
    label->setFont(sansSerif(8.25));
    Label[static_cast<std::size_t>(6 - n)] = label;  // Label(5) Telescope ... Label(2) Filter
    place(label, 240, labelTop, 1575, 195);
    auto* combo = new VbComboBox(fraPreset);
    combo->setFont(sansSerif(8.25));
    place(combo, 240, rowTop, 1575, 315);
    cmbPreset[static_cast<std::size_t>(n)] = combo;
    auto* del = new QPushButton(QStringLiteral("Delete"), fraPreset);
    del->setFont(sansSerif(8.25));
    place(del, 1920, rowTop, 615, 315);
    cmdDeletePreset[static_cast<std::size_t>(n)] = del;
    combo->onClick = [this, n] { cmbPreset_Click(n); };
    connect(del, &QPushButton::clicked, this, [this, n] { cmdDeletePreset_Click(n); });
  }

  txtStatus = new QPlainTextEdit(this);
  txtStatus->setReadOnly(true);
  txtStatus->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  txtStatus->setLineWrapMode(QPlainTextEdit::NoWrap);
  place(txtStatus, 240, 3240, 5895, 5415);

  TimerCheckPanel = new QTimer(this);
  TimerCheckPanel->setInterval(100);
  connect(TimerCheckPanel, &QTimer::timeout, this, [this] { timerCheckPanel_Timer(); });

  connect(cmdDim2, &QPushButton::clicked, this, [this] { cmdDim2_Click(); });
  connect(cmdDim1, &QPushButton::clicked, this, [this] { cmdDim1_Click(); });
  connect(cmdBright1, &QPushButton::clicked, this, [this] { cmdBright1_Click(); });
  connect(cmdBright2, &QPushButton::clicked, this, [this] { cmdBright2_Click(); });
  connect(txtBrightness, &QLineEdit::textChanged, this, [this] { txtBrightness_Change(); });
  connect(cmdSavePreset, &QPushButton::clicked, this, [this] { cmdSavePreset_Click(); });
  connect(cmdHelp, &QPushButton::clicked, this, [this] { cmdHelp_Click(); });
  // F1, the key every desktop user tries first, opens the help where the Help button does.
  connect(new QShortcut(QKeySequence::HelpContents, this), &QShortcut::activated, this, [this] { cmdHelp_Click(); });
  chkKeeponTop->onClick = [this] { chkKeeponTop_Click(); };
  chkTurnOff->onClick = [this] { chkTurnOff_Click(); };

  // The night view's key, named where the mouse rests over the window.
  auto* nightKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_N), this);
  connect(nightKey, &QShortcut::activated, this, [this] { switchNightView(); });
  setToolTip(QStringLiteral("Ctrl+N: night view on or off"));

  // Key previewing: key releases anywhere in the window reach formKeyUp.
  qApp->installEventFilter(this);

  for (QWidget* w : std::initializer_list<QWidget*>{Label[0], Label[1], lblStatus, chkKeeponTop, chkTurnOff,
                                                    cmdSavePreset, cmdHelp})
    fitCaption(w);
  for (int n = 2; n <= 5; ++n) fitCaption(Label[static_cast<std::size_t>(n)]);
  for (int n = 1; n <= 4; ++n) fitCaption(cmdDeletePreset[static_cast<std::size_t>(n)]);

  setFixedWidth(twipsToPixels(kClientWidth));
  setWindowHeightTwips(kHeightClosed);
}

void FrmMDI::setWindowHeightTwips(int twips) {
  heightTwips_ = twips;
  // Under a frame thinner than the height allows for, the closed window's
  // client area reaches a little past the status view's top edge: the view
  // shows only when the window is opened to its full height.
  txtStatus->setVisible(twips >= kHeightOpen);
  applyOuterHeight();
}

void FrmMDI::applyOuterHeight() {
  // The height counts the title bar and borders, as the window's outer
  // height does; the client area is what remains. Until the window manager
  // has framed the window its frame is a guess, so this runs again whenever
  // the real frame may have become known or changed (shown, moved, resized).
  int allowance = frameGeometry().height() - geometry().height();
  if (!isVisible() || allowance <= 0) allowance = twipsToPixels(435);
  const int inner = std::max(1, twipsToPixels(heightTwips_) - allowance);
  if (minimumHeight() != inner || maximumHeight() != inner) setFixedHeight(inner);
}

bool FrmMDI::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtBrightness && event->type() == QEvent::FocusOut) {
    // Only a move of the focus inside the program counts as leaving the box;
    // a dialog or another application taking the focus does not.
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      txtBrightness_LostFocus();
    }
  }
  if (event->type() == QEvent::KeyPress && watched == txtBrightness) {
    // Alt+D belongs to the window (the status view, on its release): the
    // box must not also take the "d", which would change the brightness.
    const auto* key = static_cast<QKeyEvent*>(event);
    const auto mods = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (key->key() == Qt::Key_D && mods == Qt::AltModifier) return true;
  }
  if (event->type() == QEvent::KeyRelease) {
    auto* widget = qobject_cast<QWidget*>(watched);
    auto* key = static_cast<QKeyEvent*>(event);
    // An unhandled key event travels up to the parents; act only where it
    // was first delivered (the focus widget, or the window itself).
    QWidget* first = QApplication::focusWidget() ? QApplication::focusWidget() : this;
    if (widget && widget == first && !key->isAutoRepeat() && (widget == this || isAncestorOf(widget))) {
      const Qt::KeyboardModifiers m = key->modifiers();
      const int shift = ((m & Qt::ShiftModifier) ? 1 : 0) | ((m & Qt::ControlModifier) ? 2 : 0) |
                        ((m & Qt::AltModifier) ? 4 : 0);
      formKeyUp(key->key(), shift);
    }
  }
  return QWidget::eventFilter(watched, event);
}

bool FrmMDI::event(QEvent* event) {
  const bool done = QWidget::event(event);
  switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
      applyOuterHeight();
      break;
    default:
      break;
  }
  return done;
}

void FrmMDI::closeEvent(QCloseEvent* event) {
  formUnload();
  event->accept();
}

std::string FrmMDI::brightnessText() const { return txtBrightness->text().toStdString(); }

}  // namespace kelvane
