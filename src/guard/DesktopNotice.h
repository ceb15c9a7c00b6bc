#pragma once
// A desktop notification for the users logged in, where a notification
// service runs: notify-send started as each user on their session bus. Nothing
// happens where there is neither.

#include <string>

namespace korbu::guard {

/// The text as the notification services' body markup shows it literally.
std::string AsMarkupText(const std::string& text);

/// Shows summary and body (already made readable; markup in it is shown as text) to every user with a session
/// bus in /run/user; never waits for the notification programs.
void NotifyDesktopUsers(const std::string& summary, const std::string& body);

}  // namespace korbu::guard
