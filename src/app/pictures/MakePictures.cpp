// Draws the program's two pictures (the main window's header and the splash) and
// writes them as JPEG files with libjpeg. Run by hand; the results are committed.
//   korbu_make_pictures <folder>

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

const QColor kFace(202, 240, 255);
const QColor kFrame(0, 128, 255);
const QColor kNavy(0, 0, 128);

bool WriteJpeg(const QImage& picture, const QString& path) {
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
  std::FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
  if (file == nullptr) return false;
  jpeg_compress_struct info;
  jpeg_error_mgr errors;
  info.err = jpeg_std_error(&errors);  // a failure here ends the program: fine for a tool
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(rgb.width());
  info.image_height = static_cast<JDIMENSION>(rgb.height());
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 92, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    std::vector<JSAMPLE> row(rgb.constScanLine(static_cast<int>(info.next_scanline)),
                             rgb.constScanLine(static_cast<int>(info.next_scanline)) +
                                 rgb.width() * 3);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&info, rows, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return std::fclose(file) == 0;
}

// A shield with a tick: the product's mark.
void DrawShield(QPainter& painter, QRectF box) {
  QPainterPath shield;
  const qreal w = box.width();
  const qreal h = box.height();
  shield.moveTo(box.left() + w / 2, box.top());
  shield.lineTo(box.right(), box.top() + h * 0.18);
  shield.cubicTo(box.right(), box.top() + h * 0.65, box.left() + w * 0.75, box.top() + h * 0.85,
                 box.left() + w / 2, box.bottom());
  shield.cubicTo(box.left() + w * 0.25, box.top() + h * 0.85, box.left(), box.top() + h * 0.65,
                 box.left(), box.top() + h * 0.18);
  shield.closeSubpath();
  QLinearGradient fill(box.topLeft(), box.bottomRight());
  fill.setColorAt(0, QColor(90, 180, 255));
  fill.setColorAt(1, kFrame.darker(140));
  painter.setPen(QPen(Qt::white, 2));
  painter.setBrush(fill);
  painter.drawPath(shield);
  QPainterPath tick;
  tick.moveTo(box.left() + w * 0.28, box.top() + h * 0.50);
  tick.lineTo(box.left() + w * 0.45, box.top() + h * 0.66);
  tick.lineTo(box.left() + w * 0.74, box.top() + h * 0.32);
  painter.setPen(QPen(Qt::white, w * 0.11, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(Qt::NoBrush);
  painter.drawPath(tick);
}

QFont Font(int pixels, bool bold) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QImage Header() {
  QImage picture(658, 81, QImage::Format_RGB888);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 658, 0);
  sky.setColorAt(0, kFrame.darker(120));
  sky.setColorAt(0.55, kFrame);
  sky.setColorAt(1, kFace);
  painter.fillRect(picture.rect(), sky);
  painter.fillRect(QRect(0, 77, 658, 4), kNavy);
  DrawShield(painter, QRectF(18, 10, 48, 58));
  painter.setPen(Qt::white);
  painter.setFont(Font(34, true));
  painter.drawText(QRect(80, 6, 300, 44), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("KORBU"));
  painter.setFont(Font(13, false));
  painter.drawText(QRect(82, 48, 300, 22), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Selvo Antivirus"));
  painter.setPen(kNavy);
  painter.setFont(Font(12, true));
  painter.drawText(QRect(400, 48, 240, 22), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("Brontok removal tool"));
  return picture;
}

QImage Splash() {
  QImage picture(400, 110, QImage::Format_RGB888);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 110);
  sky.setColorAt(0, Qt::white);
  sky.setColorAt(1, kFace);
  painter.fillRect(picture.rect(), sky);
  painter.fillRect(QRect(0, 0, 96, 110), kFrame);
  DrawShield(painter, QRectF(22, 20, 52, 64));
  painter.setPen(kNavy);
  painter.setFont(Font(36, true));
  painter.drawText(QRect(112, 8, 280, 48), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("KORBU"));
  painter.setFont(Font(14, false));
  painter.setPen(kFrame.darker(130));
  painter.drawText(QRect(114, 52, 280, 24), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("Selvo Antivirus  1.0.0 RC1"));
  painter.fillRect(QRect(112, 80, 276, 1), kFrame);
  return picture;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
  const bool ok = WriteJpeg(Header(), folder + QStringLiteral("/header.jpg")) &&
                  WriteJpeg(Splash(), folder + QStringLiteral("/splash.jpg"));
  std::fprintf(ok ? stdout : stderr, ok ? "pictures written to %s\n" : "cannot write to %s\n",
               folder.toLocal8Bit().constData());
  return ok ? 0 : 1;
}
