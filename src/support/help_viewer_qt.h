#pragma once
// Shows the compiled help file.
#include <string>

namespace kelvane {

// Opens chmPath at a numbered topic. On Windows through the HTML Help viewer
// (falling back to the file's associated program); elsewhere in the
// program's own help window (help_window_qt.h), at the file's start page when
// the number is not mapped. False, with a text for the user in error, when
// the file is missing or cannot be shown.
bool openHelpViewer(const std::string& chmPath, int topic, std::string& error);

}  // namespace kelvane
