#include "app/JpegPicture.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t first
#include <limits>

#include <jpeglib.h>

namespace korbu {
namespace {

// Larger pictures are refused: the artwork is small, and a forged header must not
// make us allocate gigabytes.
constexpr JDIMENSION kMaxSide = 8192;

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf escape;
};

[[noreturn]] void OnFatalError(j_common_ptr info) {
  auto* errors = reinterpret_cast<ErrorManager*>(info->err);
  std::longjmp(errors->escape, 1);
}

// Warnings (premature end of data, corrupt segments) would leave grey areas in
// the picture; they are counted here and the picture is refused afterwards.
// Trace messages (level 0 and up) are ignored.
void OnMessage(j_common_ptr info, int level) {
  if (level < 0) ++info->err->num_warnings;
}

// Only plain C state lives in this frame, so the jump back from libjpeg skips no
// destructor. Returns false when libjpeg gave up or warned.
bool DecodeInto(const unsigned char* bytes, unsigned long size, QImage* out) {
  jpeg_decompress_struct info;
  ErrorManager errors;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = OnFatalError;
  errors.base.emit_message = OnMessage;
  if (setjmp(errors.escape) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes, size);
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK || info.image_width == 0 ||
      info.image_height == 0 || info.image_width > kMaxSide || info.image_height > kMaxSide) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  // Print-shop CMYK pictures are not artwork of ours; refuse rather than guess colours.
  if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  if (info.output_components != 3) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  *out = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                QImage::Format_RGB888);
  if (out->isNull()) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out->scanLine(static_cast<int>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  const bool clean = errors.base.num_warnings == 0;
  jpeg_destroy_decompress(&info);
  return clean;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
  if (data.isEmpty()) return {};
  if (static_cast<unsigned long long>(data.size()) > std::numeric_limits<unsigned long>::max()) {
    return {};
  }
  QImage image;
  if (!DecodeInto(reinterpret_cast<const unsigned char*>(data.constData()),
                  static_cast<unsigned long>(data.size()), &image)) {
    return {};
  }
  return image;
}

QImage LoadJpeg(const QString& fileName) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return DecodeJpeg(file.readAll());
}

}  // namespace korbu
