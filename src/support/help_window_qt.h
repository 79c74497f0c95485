#pragma once
// Kelvane's own help window: shows the pages of the compiled help file in a
// text browser, with the file's table of contents beside them, Back, Forward
// and Home, so that no external viewer is needed. Pages, style sheets and
// images come straight out of the archive (through chmlib).
#include <QMainWindow>
#include <QTextBrowser>
#include <QUrl>
#include <optional>
#include <string>

#include "support/chm_index.h"

class QTreeWidget;
class QTreeWidgetItem;
class QAction;

struct chmFile;

namespace kelvane {

// One open compiled help file.
class ChmArchive {
 public:
  ChmArchive() = default;
  ~ChmArchive();
  ChmArchive(const ChmArchive&) = delete;
  ChmArchive& operator=(const ChmArchive&) = delete;

  // Closes the file open before. False when the file cannot be read as a
  // compiled help file (or this build has no CHM reader).
  bool open(const std::string& path);
  bool contains(const std::string& objectPath) const;
  // The whole object; nothing when it does not exist.
  std::optional<std::string> read(const std::string& objectPath) const;

  const ChmSystemInfo& system() const { return system_; }
  // The archive path of a numbered topic; the start page when the number is
  // not mapped.
  std::string topicPath(std::uint32_t context) const;
  std::vector<ChmContentsEntry> contents() const;

 private:
  chmFile* file_ = nullptr;
  ChmSystemInfo system_;
};

// Pages are addressed as "chm:/page.htm", so relative links resolve as in a
// folder.
QUrl chmUrl(const std::string& objectPath);

class HelpBrowser : public QTextBrowser {
 public:
  explicit HelpBrowser(const ChmArchive& archive, QWidget* parent = nullptr);
  QVariant loadResource(int type, const QUrl& name) override;

 protected:
  // In the night view a page's own colours give way to the night view's.
  void doSetSource(const QUrl& name, QTextDocument::ResourceType type) override;

 private:
  const ChmArchive& archive_;
};

class HelpWindow : public QMainWindow {
 public:
  explicit HelpWindow(QWidget* parent = nullptr);
  ~HelpWindow() override;

  // Opens the file (or keeps it when it is the one already open) and shows
  // a topic; false with a text for the user when the file cannot be read.
  bool showTopic(const std::string& chmPath, int topic, std::string& error);

  HelpBrowser* browser() const { return browser_; }
  QTreeWidget* contentsTree() const { return contents_; }
  QAction* backAction() const { return back_; }
  QAction* forwardAction() const { return forward_; }

  // The one help window of the program, made on first use.
  static HelpWindow& instance();

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // Icons and the page in the colours of the view in force.
  void followView();
  void fillContents();
  void followLink(const QUrl& url);
  void selectInContents(const QUrl& page);

  std::string path_;
  ChmArchive archive_;
  HelpBrowser* browser_ = nullptr;
  QTreeWidget* contents_ = nullptr;
  QAction* back_ = nullptr;
  QAction* forward_ = nullptr;
  QAction* home_ = nullptr;
  bool night_ = false;
};

}  // namespace kelvane
