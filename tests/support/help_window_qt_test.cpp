// The help built from help/ through the help window's own reader.
#include "support/help_window_qt.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QRegularExpression>
#include <QTreeWidget>

#include "support/help_viewer_qt.h"

namespace kelvane {
namespace {

#ifdef KELVANE_BUILT_CHM
TEST(HelpWindow, BuiltHelpMapsTheMainWindowTopicAndEveryLinkResolves) {
  ChmArchive chm;
  ASSERT_TRUE(chm.open(KELVANE_BUILT_CHM));
  EXPECT_EQ(chm.topicPath(2100), "/main.htm");
  // The map itself names the page inside the file: HTML Help takes it as it is.
  EXPECT_EQ(chmContextTopic(*chm.read("/#IVB"), *chm.read("/#STRINGS"), 2100), "main.htm");
  EXPECT_EQ(chm.topicPath(0), "/index.htm");
  EXPECT_EQ(chm.topicPath(9999), "/index.htm");

  const auto contents = chm.contents();
  ASSERT_GE(contents.size(), 9u);
  int links = 0;
  for (const ChmContentsEntry& entry : contents) {
    const auto page = chm.read("/" + entry.local);
    ASSERT_TRUE(page) << entry.name << ": " << entry.local;
    // Every page, style sheet and image a page refers to is in the file.
    static const QRegularExpression ref(QStringLiteral("(?:href|src)=\"([^\"#:]+)"));
    for (const auto& m : ref.globalMatch(QString::fromStdString(*page))) {
      const std::string target = m.captured(1).toStdString();
      EXPECT_TRUE(chm.contains("/" + target)) << entry.local << " -> " << target;
      ++links;
    }
  }
  EXPECT_GT(links, 20);
}

TEST(HelpWindow, ShowsTheTopicFollowsLinksAndGoesBackAndForward) {
  std::string error;
  ASSERT_TRUE(openHelpViewer(KELVANE_BUILT_CHM, 2100, error)) << error;
  HelpWindow& w = HelpWindow::instance();
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(w.browser()->source().path(), "/main.htm");
  EXPECT_TRUE(w.browser()->toPlainText().contains(QStringLiteral("Panel Brightness")));
  ASSERT_NE(w.contentsTree()->currentItem(), nullptr);
  EXPECT_EQ(w.contentsTree()->currentItem()->text(0), "The main window");

  emit w.browser()->anchorClicked(w.browser()->source().resolved(QUrl(QStringLiteral("presets.htm"))));
  EXPECT_EQ(w.browser()->source().path(), "/presets.htm");
  EXPECT_TRUE(w.browser()->toPlainText().contains(QStringLiteral("Save Preset")));
  EXPECT_EQ(w.contentsTree()->currentItem()->text(0), "Presets");
  ASSERT_TRUE(w.backAction()->isEnabled());
  w.backAction()->trigger();
  EXPECT_EQ(w.browser()->source().path(), "/main.htm");
  w.forwardAction()->trigger();
  EXPECT_EQ(w.browser()->source().path(), "/presets.htm");

  // A missing file is named; the window keeps what it shows.
  EXPECT_FALSE(openHelpViewer("/nonexistent/help/Kelvane.chm", 2100, error));
  EXPECT_EQ(error, "The help file was not found: /nonexistent/help/Kelvane.chm");
  EXPECT_EQ(w.browser()->source().path(), "/presets.htm");

  // From a modal dialog (the error dialog's help) the window must not be blocked by it.
  QDialog dialog;
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.show();
  ASSERT_TRUE(openHelpViewer(KELVANE_BUILT_CHM, 0, error));
  EXPECT_EQ(QApplication::activeModalWidget(), &w);
  w.close();
}
#endif

}  // namespace
}  // namespace kelvane
