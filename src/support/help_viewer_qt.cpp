#include "support/help_viewer_qt.h"

#include <QApplication>
#include <QFileInfo>
#include <QString>

#include "support/help_window_qt.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace kelvane {

bool openHelpViewer(const std::string& chmPath, int topic, std::string& error) {
  error.clear();
  const QString path = QString::fromStdString(chmPath);
  if (!QFileInfo(path).isFile()) {
    error = "The help file was not found: " + chmPath;
    return false;
  }
#ifdef _WIN32
  using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCSTR, UINT, DWORD_PTR);
  constexpr UINT kHelpContext = 15;  // HH_HELP_CONTEXT
  constexpr UINT kDisplayTopic = 0;  // HH_DISPLAY_TOPIC
  if (HMODULE hh = LoadLibraryA("hhctrl.ocx")) {
    if (auto htmlHelp = reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(hh, "HtmlHelpA")))) {
      // A topic the file does not map still opens the file at its start.
      if (htmlHelp(nullptr, chmPath.c_str(), kHelpContext, static_cast<DWORD_PTR>(topic)) ||
          htmlHelp(nullptr, chmPath.c_str(), kDisplayTopic, 0))
        return true;  // the viewer keeps hhctrl.ocx loaded while it is open
    }
  }
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteA(nullptr, "open", chmPath.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  if (result > 32) return true;
  error = "The help viewer could not be started for the help file: " + chmPath;
  return false;
#else
  HelpWindow& window = HelpWindow::instance();
  if (!window.showTopic(QFileInfo(path).absoluteFilePath().toStdString(), topic, error)) return false;
  // Asked from a modal dialog, the window must be modal too, or the dialog
  // would block it; modality takes effect when a window is shown.
  QWidget* modal = QApplication::activeModalWidget();
  const Qt::WindowModality wanted = modal && modal != &window ? Qt::ApplicationModal : Qt::NonModal;
  if (window.windowModality() != wanted) {
    window.hide();
    window.setWindowModality(wanted);
  }
  window.show();
  window.raise();
  window.activateWindow();
  return true;
#endif
}

}  // namespace kelvane
