#pragma once
// The count a running Clean or Delete shows in the scan page's status line.

#include <cstddef>
#include <string>
#include <string_view>

namespace korbu {

/// "Deleting 1,234 of 10,000" ("Cleaning ..." for action "clean"); with
/// closing, the note that the window closes once the action has ended.
std::string ActionProgressText(std::string_view action, std::size_t done, std::size_t total, bool closing);

}  // namespace korbu
