#include "support/help_window_qt.h"

#include <QAction>
#include <QDesktopServices>
#include <QEvent>
#include <QHeaderView>
#include <QKeySequence>
#include <QSplitter>
#include <QStyle>
#include <QToolBar>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <utility>
#include <vector>

#include "support/night_view_qt.h"

#ifdef KELVANE_HAVE_CHMLIB
#include <chm_lib.h>
#endif

namespace kelvane {

namespace {
constexpr int kUrlRole = Qt::UserRole;
}

ChmArchive::~ChmArchive() {
#ifdef KELVANE_HAVE_CHMLIB
  if (file_) chm_close(file_);
#endif
}

bool ChmArchive::open(const std::string& path) {
#ifdef KELVANE_HAVE_CHMLIB
  if (file_) chm_close(std::exchange(file_, nullptr));
  system_ = {};
  file_ = chm_open(path.c_str());
  if (!file_) return false;
  if (auto data = read("/#SYSTEM")) system_ = parseChmSystem(*data);
  return true;
#else
  (void)path;
  return false;
#endif
}

bool ChmArchive::contains(const std::string& objectPath) const {
#ifdef KELVANE_HAVE_CHMLIB
  chmUnitInfo info{};
  return file_ && chm_resolve_object(file_, objectPath.c_str(), &info) == CHM_RESOLVE_SUCCESS;
#else
  (void)objectPath;
  return false;
#endif
}

std::optional<std::string> ChmArchive::read(const std::string& objectPath) const {
#ifdef KELVANE_HAVE_CHMLIB
  chmUnitInfo info{};
  if (!file_ || chm_resolve_object(file_, objectPath.c_str(), &info) != CHM_RESOLVE_SUCCESS)
    return std::nullopt;
  // Help pages are small; anything claiming more is a damaged file.
  constexpr LONGUINT64 kLargest = 64u << 20;
  if (info.length > kLargest) return std::nullopt;
  std::string data(static_cast<std::size_t>(info.length), '\0');
  const LONGINT64 got = chm_retrieve_object(file_, &info, reinterpret_cast<unsigned char*>(data.data()), 0,
                                            static_cast<LONGINT64>(info.length));
  if (got < 0) return std::nullopt;
  data.resize(static_cast<std::size_t>(got));
  return data;
#else
  (void)objectPath;
  return std::nullopt;
#endif
}

std::string ChmArchive::topicPath(std::uint32_t context) const {
  const auto exists = [this](const std::string& p) { return contains(p); };
  if (context != 0) {
    const auto ivb = read("/#IVB");
    const auto strings = read("/#STRINGS");
    if (ivb && strings) {
      const std::string found = chmObjectPath(chmContextTopic(*ivb, *strings, context), exists);
      if (!found.empty()) return found;
    }
  }
  return chmObjectPath(system_.defaultTopic, exists);
}

std::vector<ChmContentsEntry> ChmArchive::contents() const {
  if (system_.contentsFile.empty()) return {};
  const auto hhc = read("/" + system_.contentsFile);
  return hhc ? parseChmSitemap(*hhc) : std::vector<ChmContentsEntry>{};
}

QUrl chmUrl(const std::string& objectPath) {
  QUrl url;
  url.setScheme(QStringLiteral("chm"));
  url.setPath(QString::fromStdString(objectPath));
  return url;
}

HelpBrowser::HelpBrowser(const ChmArchive& archive, QWidget* parent) : QTextBrowser(parent), archive_(archive) {}

QVariant HelpBrowser::loadResource(int type, const QUrl& name) {
  if (name.scheme() != QLatin1String("chm")) return QTextBrowser::loadResource(type, name);
  const auto data = archive_.read(name.path().toStdString());
  if (!data) return {};
  const QByteArray bytes(data->data(), static_cast<qsizetype>(data->size()));
  if (type == QTextDocument::ImageResource && night::on()) return night::toRed(QImage::fromData(bytes));
  return bytes;
}

void HelpBrowser::doSetSource(const QUrl& name, QTextDocument::ResourceType type) {
  QTextBrowser::doSetSource(name, type);
  if (night::on()) night::recolour(*document());
}

HelpWindow::HelpWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Kelvane Help"));
  resize(900, 620);

  auto* splitter = new QSplitter(this);
  contents_ = new QTreeWidget(splitter);
  contents_->setHeaderHidden(true);
  contents_->setRootIsDecorated(true);
  browser_ = new HelpBrowser(archive_, splitter);
  // Links are followed here: pages of the file in this window, anything else
  // (web addresses, mail) by the desktop.
  browser_->setOpenLinks(false);
  splitter->addWidget(contents_);
  splitter->addWidget(browser_);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({240, 660});
  setCentralWidget(splitter);

  QToolBar* bar = addToolBar(QStringLiteral("Navigation"));
  bar->setMovable(false);
  bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  back_ = bar->addAction(QStringLiteral("Back"));
  forward_ = bar->addAction(QStringLiteral("Forward"));
  home_ = bar->addAction(QStringLiteral("Home"));
  followView();
  back_->setShortcut(QKeySequence::Back);
  forward_->setShortcut(QKeySequence::Forward);
  back_->setEnabled(false);
  forward_->setEnabled(false);

  connect(back_, &QAction::triggered, browser_, &QTextBrowser::backward);
  connect(forward_, &QAction::triggered, browser_, &QTextBrowser::forward);
  connect(home_, &QAction::triggered, this, [this] { followLink(chmUrl(archive_.topicPath(0))); });
  connect(browser_, &QTextBrowser::backwardAvailable, back_, &QAction::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QAction::setEnabled);
  connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) { followLink(url); });
  connect(browser_, &QTextBrowser::sourceChanged, this, [this](const QUrl& url) { selectInContents(url); });
  connect(contents_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    const QUrl url = item->data(0, kUrlRole).toUrl();
    if (url.isValid()) followLink(url);
  });
  connect(contents_, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
    const QUrl url = item->data(0, kUrlRole).toUrl();
    if (url.isValid()) followLink(url);
  });
}

HelpWindow::~HelpWindow() = default;

void HelpWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::PaletteChange && night_ != night::on()) followView();
}

void HelpWindow::followView() {
  night_ = night::on();
  back_->setIcon(style()->standardIcon(QStyle::SP_ArrowBack));
  forward_->setIcon(style()->standardIcon(QStyle::SP_ArrowForward));
  home_->setIcon(style()->standardIcon(QStyle::SP_DirHomeIcon));
  // The page again, parsed afresh: its colours were changed in place.
  if (browser_->source().isValid()) browser_->reload();
}

HelpWindow& HelpWindow::instance() {
  // Lives until the program ends, so Back and Forward survive closing it.
  static HelpWindow* window = new HelpWindow;
  return *window;
}

bool HelpWindow::showTopic(const std::string& chmPath, int topic, std::string& error) {
  error.clear();
  if (chmPath != path_ || !archive_.contains("/#SYSTEM")) {
    if (!archive_.open(chmPath)) {
      path_.clear();
      error = "The help file cannot be read: " + chmPath;
      return false;
    }
    path_ = chmPath;
    browser_->clearHistory();
    fillContents();
    if (!archive_.system().title.empty()) setWindowTitle(QString::fromStdString(archive_.system().title));
  }
  const std::string page = archive_.topicPath(topic < 0 ? 0u : static_cast<std::uint32_t>(topic));
  if (page.empty()) {
    error = "The help file has no start page: " + chmPath;
    return false;
  }
  followLink(chmUrl(page));
  return true;
}

void HelpWindow::fillContents() {
  contents_->clear();
  std::vector<QTreeWidgetItem*> parents;
  for (const ChmContentsEntry& entry : archive_.contents()) {
    const auto level = static_cast<std::size_t>(entry.level);
    if (parents.size() > level) parents.resize(level);
    QTreeWidgetItem* item = parents.empty() ? new QTreeWidgetItem(contents_) : new QTreeWidgetItem(parents.back());
    item->setText(0, QString::fromStdString(entry.name));
    const std::string page = chmObjectPath(entry.local, [this](const std::string& p) { return archive_.contains(p); });
    if (!page.empty()) item->setData(0, kUrlRole, chmUrl(page));
    // A deeper entry without a parent at the level above hangs on the last one.
    while (parents.size() < level + 1) parents.push_back(item);
  }
  contents_->expandAll();
}

void HelpWindow::followLink(const QUrl& url) {
  if (url.scheme() != QLatin1String("chm")) {
    QDesktopServices::openUrl(url);
    return;
  }
  if (url.path() == browser_->source().path() && url.hasFragment()) {
    browser_->scrollToAnchor(url.fragment());
    return;
  }
  browser_->setSource(url, QTextDocument::HtmlResource);
}

void HelpWindow::selectInContents(const QUrl& page) {
  const QString current = page.path();
  QTreeWidgetItemIterator it(contents_);
  for (; *it; ++it) {
    if ((*it)->data(0, kUrlRole).toUrl().path().compare(current, Qt::CaseInsensitive) == 0) {
      const QSignalBlocker block(contents_);
      contents_->setCurrentItem(*it);
      return;
    }
  }
}

}  // namespace kelvane
