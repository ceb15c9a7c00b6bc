#pragma once
// The application object's settings, made before the first window exists.

namespace korbu {

/// The application's name "Selvo Antivirus" (task bar, window class, message
/// boxes), the window style, and Tahoma for message boxes and tool tips.
void SetUpApplication();

}  // namespace korbu
