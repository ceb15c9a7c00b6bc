#pragma once
// The header and splash pictures: JPEG bytes carried as resources, decoded by the
// Windows imaging component into bitmaps.

#include "win32app/Win32Api.h"

namespace korbu::win32app {

inline constexpr int kHeaderPicture = 101;
inline constexpr int kSplashPicture = 102;

/// The picture of that resource as a 32-bit bitmap; null when it cannot be decoded.
/// COM must be initialised on the calling thread.
HBITMAP LoadPicture(int resource);

/// Draws a bitmap at (x, y) in its own size.
void DrawPicture(HDC dc, HBITMAP picture, int x, int y);

}  // namespace korbu::win32app
