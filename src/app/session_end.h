#pragma once
// Ending with the session: SIGTERM, SIGINT and SIGHUP (a logout, a shutdown,
// `kill`, a closed terminal) end the program as a close of its window does,
// also while a dialog is open; when the display connection breaks, Qt's xcb
// platform ends the process with exit(), and the panel is still turned off
// on the way out when "Turn off Panel on exit" is checked.
namespace kelvane {

class FrmMDI;
class QtHost;

// Call once, before the window's start-up, for the process's one window.
void endWithTheSession(FrmMDI& window, QtHost& host);

}  // namespace kelvane
