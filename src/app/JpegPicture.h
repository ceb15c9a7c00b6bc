#pragma once
// JPEG pictures decoded by libjpeg, so the program needs no Qt image plugin.

#include <QByteArray>
#include <QImage>
#include <QString>

namespace korbu {

/// Decodes a baseline or progressive JPEG (grey or colour) into an RGB image.
/// A damaged, truncated or oversized picture gives a null image; nothing is thrown.
QImage DecodeJpeg(const QByteArray& data);

/// Reads a file or a resource (":/pictures/...") and decodes it; a null image
/// when it cannot be read or decoded.
QImage LoadJpeg(const QString& fileName);

}  // namespace korbu
