#include "app/termination_signals.h"

#include <QCoreApplication>
#include <QMetaObject>

#ifdef _WIN32
#include <windows.h>
#else
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kelvane {

namespace {
TerminationSignals* instance = nullptr;
#ifndef _WIN32
// The handler only writes the signal's number into a socket; the event loop
// reads it, so nothing but async-signal-safe calls run in the handler.
int pipeEnds[2] = {-1, -1};

void onSignal(int number) {
  const int saved = errno;
  const char byte = static_cast<char>(number);
  [[maybe_unused]] const ssize_t n = ::write(pipeEnds[1], &byte, 1);
  errno = saved;
}
#else
// Set once the program has ended as asked (the handler's owner is gone).
HANDLE ended = nullptr;

// Runs on a thread of its own. After a closed console, a logoff or a
// shutdown, Windows ends the process as soon as this returns: it waits
// (within the 5 s Windows allows) for the settings and the turn-off.
BOOL WINAPI onConsoleEvent(DWORD type) {
  if (!instance) return FALSE;
  const int number = type == CTRL_C_EVENT ? 2 : 15;
  QMetaObject::invokeMethod(instance, [number] { emit instance->requested(number); },
                            Qt::QueuedConnection);
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && ended) WaitForSingleObject(ended, 4500);
  return TRUE;
}
#endif
}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  instance = this;
#ifndef _WIN32
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeEnds) != 0) return;
  ::fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
  notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    char byte = 0;
    if (::read(pipeEnds[0], &byte, 1) == 1) emit requested(static_cast<unsigned char>(byte));
  });
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(number, &action, nullptr);
#else
  if (!ended) ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ResetEvent(ended);
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#endif
}

TerminationSignals::~TerminationSignals() {
#ifndef _WIN32
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (int number : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(number, &action, nullptr);
  delete notifier_;
  for (int& end : pipeEnds) {
    if (end >= 0) ::close(end);
    end = -1;
  }
#else
  if (ended) SetEvent(ended);
  SetConsoleCtrlHandler(onConsoleEvent, FALSE);
#endif
  instance = nullptr;
}

}  // namespace kelvane
