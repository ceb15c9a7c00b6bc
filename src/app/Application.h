#pragma once
// The application object's settings, made before the first window exists.

namespace korbu {

/// The application's title "Selvo Antivirus" (task bar, window class, message
/// boxes) and the window style.
void SetUpApplication();

}  // namespace korbu
