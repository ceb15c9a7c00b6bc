// The libjpeg decoder on the program's own pictures and on damaged input.

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTest>

#include "app/JpegPicture.h"

using korbu::DecodeJpeg;
using korbu::LoadJpeg;

class JpegPictureTest : public QObject {
  Q_OBJECT

 private:
  static QByteArray Resource(const char* name) {
    QFile file(QStringLiteral(":/pictures/") + QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }

  static bool Near(QRgb pixel, int r, int g, int b, int tolerance) {
    return std::abs(qRed(pixel) - r) <= tolerance && std::abs(qGreen(pixel) - g) <= tolerance &&
           std::abs(qBlue(pixel) - b) <= tolerance;
  }

 private slots:
  void ProgramPicturesDecodeAtTheirSizes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    QTest::newRow("header") << QStringLiteral(":/pictures/header.jpg") << QSize(658, 81);
    QTest::newRow("splash") << QStringLiteral(":/pictures/splash.jpg") << QSize(400, 110);
  }
  void ProgramPicturesDecodeAtTheirSizes() {
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QImage picture = LoadJpeg(name);
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.size(), size);
  }

  void PixelsKeepTheirColours() {
    // The splash has a medium blue band at the left and a near-white top right;
    // the header's bottom edge is a navy rule.
    const QImage splash = LoadJpeg(QStringLiteral(":/pictures/splash.jpg"));
    QVERIFY(Near(splash.pixel(4, 100), 0, 128, 255, 12));
    QVERIFY(Near(splash.pixel(395, 3), 255, 255, 255, 12));
    const QImage header = LoadJpeg(QStringLiteral(":/pictures/header.jpg"));
    QVERIFY(Near(header.pixel(300, 79), 0, 0, 128, 16));
  }

  void GreyPictureComesOutAsRgb() {
    // Written by Qt's own encoder in memory, read back by ours.
    QImage grey(16, 8, QImage::Format_Grayscale8);
    grey.fill(200);
    QByteArray bytes;
    QBuffer sink(&bytes);
    sink.open(QIODevice::WriteOnly);
    if (!grey.save(&sink, "JPG")) QSKIP("this Qt build has no JPEG writer");
    const QImage decoded = DecodeJpeg(bytes);
    QCOMPARE(decoded.size(), QSize(16, 8));
    QVERIFY(Near(decoded.pixel(8, 4), 200, 200, 200, 4));
  }

  void DamagedInputGivesAnEmptyPicture_data() {
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray good = Resource("splash.jpg");
    QVERIFY(good.size() > 1000);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a jpeg") << QByteArray("GIF89a this is not a picture at all");
    QTest::newRow("only the start marker") << good.left(2);
    QTest::newRow("header only") << good.left(300);
    QTest::newRow("cut in the middle") << good.left(good.size() / 2);
    QByteArray scrambled = good;
    for (qsizetype i = 200; i < scrambled.size() - 2; i += 7) scrambled[i] = '\xff';
    QTest::newRow("scrambled data") << scrambled;
    // A header claiming a 60000 x 60000 picture must not be allocated.
    QByteArray huge = good;
    const qsizetype sof = huge.indexOf(QByteArray("\xff\xc0", 2));
    QVERIFY(sof > 0);
    huge[sof + 5] = '\xea';
    huge[sof + 6] = '\x60';
    huge[sof + 7] = '\xea';
    huge[sof + 8] = '\x60';
    QTest::newRow("oversized") << huge;
  }
  void DamagedInputGivesAnEmptyPicture() {
    QFETCH(QByteArray, bytes);
    QVERIFY(DecodeJpeg(bytes).isNull());
  }

  void MissingFileGivesAnEmptyPicture() {
    QVERIFY(LoadJpeg(QStringLiteral("/nonexistent/korbu/picture.jpg")).isNull());
  }
};

QTEST_GUILESS_MAIN(JpegPictureTest)
#include "JpegPictureTest.moc"
