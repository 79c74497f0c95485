#include "support/unattended_host.h"

#include "support/error_handler.h"

namespace kelvane {

int UnattendedHost::msgBox(const std::string& text, int buttons, const std::string& title) {
  notify(title.empty() ? text : title + ": " + text);
  return buttons == mb::YesNo ? mb::No : mb::Ok;
}

std::string UnattendedHost::msgBox2(const std::string& text, const std::string&, const std::string&, int,
                                    bool&) {
  notify(errors_ && !errors_->lastFailure().empty() ? errors_->lastFailure() : text);
  return {};
}

}  // namespace kelvane
