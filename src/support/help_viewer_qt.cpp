#include "support/help_viewer_qt.h"

#include <QApplication>
#include <QDir>
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
#ifdef _WIN32
  const QString path = QString::fromLocal8Bit(chmPath.c_str());  // the program's paths are ANSI there
#else
  const QString path = QString::fromStdString(chmPath);
#endif
  if (!QFileInfo(path).isFile()) {
    error = "The help file was not found: " + chmPath;
    return false;
  }
#ifdef _WIN32
  // HTML Help is looked up when first asked for, as Windows programs do: a
  // missing hhctrl.ocx then costs only the help, not the start.
  using HtmlHelpFn = HWND(WINAPI*)(HWND, LPCWSTR, UINT, DWORD_PTR);
  constexpr UINT kHelpContext = 15;  // HH_HELP_CONTEXT
  constexpr UINT kDisplayTopic = 0;  // HH_DISPLAY_TOPIC
  const std::wstring file = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
  if (HMODULE hh = LoadLibraryW(L"hhctrl.ocx")) {
    if (auto htmlHelp = reinterpret_cast<HtmlHelpFn>(reinterpret_cast<void*>(GetProcAddress(hh, "HtmlHelpW")))) {
      // A topic the file does not map still opens the file at its start.
      if (htmlHelp(nullptr, file.c_str(), kHelpContext, static_cast<DWORD_PTR>(topic)) ||
          htmlHelp(nullptr, file.c_str(), kDisplayTopic, 0))
        return true;  // the viewer keeps hhctrl.ocx loaded while it is open
    }
  }
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
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
