#pragma once
// Starts a viewer for the compiled help file.
#include <string>

namespace kelvane {

// Opens chmPath at a numbered topic. On Windows through the HTML Help viewer
// (falling back to the file's associated program); elsewhere through the
// first CHM viewer found on PATH (xCHM, KchmViewer, uChmViewer, Okular),
// started detached without a shell. Those viewers take no topic number, so
// there the file opens at its start page. False, with a text for the user in
// error, when the file is missing or no viewer could be started.
bool openHelpViewer(const std::string& chmPath, int topic, std::string& error);

}  // namespace kelvane
