#pragma once
// The access keys of the window's buttons and option boxes, the same in every
// toolkit: the caption with "&" before the letter that Alt and that letter press.
// The visible text stays the caption, underlined at that letter.

#include <string>

namespace korbu {

/// The caption with its access key; a caption without one comes back unchanged.
std::string WithAccessKey(const std::string& caption);

}  // namespace korbu
