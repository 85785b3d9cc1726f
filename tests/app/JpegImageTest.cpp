// The window's pictures: libjpeg decoding of our JPEGs (checked against Qt's own reader),
// greyscale and CMYK files, damaged files, and the resource list.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "app/JpegImage.h"

namespace {

QByteArray ReadResource(const QString& path) {
  app::InitPictureResources();
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
  return file.readAll();
}

int MaxChannelDifference(const QImage& a, const QImage& b) {
  int worst = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
      worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                        std::abs(qBlue(p) - qBlue(q))});
    }
  }
  return worst;
}

// A 16 x 16 CMYK JPEG of one colour, as libjpeg writes it (with the Adobe marker, inverted).
QByteArray EncodeCmyk(unsigned char c, unsigned char m, unsigned char y, unsigned char k) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr errors;
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = 16;
  cinfo.image_height = 16;
  cinfo.input_components = 4;
  cinfo.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 100, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row;
  for (int x = 0; x < 16; ++x) row.insert(row.end(), {c, m, y, k});
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW rows[] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(size));
  std::free(out);
  return bytes;
}

TEST(JpegImage, DecodesOurPicturesLikeQtsReader) {
  struct Row {
    const char* path;
    QSize size;
  };
  for (const Row& row : {Row{":/pictures/banner.jpg", QSize(420, 56)},
                         Row{":/pictures/about.jpg", QSize(277, 187)}}) {
    SCOPED_TRACE(row.path);
    const QImage ours = app::LoadJpegResource(QString::fromLatin1(row.path));
    ASSERT_EQ(ours.size(), row.size);
    QImage reference;
    ASSERT_TRUE(reference.loadFromData(ReadResource(QString::fromLatin1(row.path)), "JPEG"));
    EXPECT_LE(MaxChannelDifference(ours, reference), 2);
  }
  // The banner's background is a dark violet: blue leads, then red, then green.
  const QRgb sky = app::LoadJpegResource(":/pictures/banner.jpg").pixel(200, 3);
  EXPECT_GT(qBlue(sky), qRed(sky) + 20);
  EXPECT_GT(qRed(sky), qGreen(sky));
}

TEST(JpegImage, DecodesGreyscaleAndCmyk) {
  QImage grey(8, 8, QImage::Format_Grayscale8);
  grey.fill(QColor(90, 90, 90));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  ASSERT_TRUE(grey.save(&buffer, "JPEG", 100));
  const QRgb pixel = app::DecodeJpeg(bytes).pixel(3, 3);
  EXPECT_NEAR(qRed(pixel), 90, 2);
  EXPECT_EQ(qRed(pixel), qGreen(pixel));
  EXPECT_EQ(qRed(pixel), qBlue(pixel));

  // Inverted CMYK: 255 is no ink. No cyan, full magenta and yellow, no black: red.
  const QRgb red = app::DecodeJpeg(EncodeCmyk(255, 0, 0, 255)).pixel(8, 8);
  EXPECT_GT(qRed(red), 250);
  EXPECT_LT(qGreen(red), 5);
  EXPECT_LT(qBlue(red), 5);
}

TEST(JpegImage, DamagedFilesThrow) {
  const QByteArray whole = ReadResource(":/pictures/about.jpg");
  ASSERT_NO_THROW(app::DecodeJpeg(whole));
  for (const qsizetype length :
       {qsizetype(0), qsizetype(2), qsizetype(100), whole.size() / 2, whole.size() - 10}) {
    SCOPED_TRACE(length);
    EXPECT_THROW(app::DecodeJpeg(whole.left(length)), std::runtime_error);
  }
  QByteArray garbled = whole;
  for (qsizetype i = whole.size() / 3; i < whole.size() / 3 + 64; ++i) garbled[i] = '\xFF';
  EXPECT_THROW(app::DecodeJpeg(garbled), std::runtime_error);
  EXPECT_THROW(app::DecodeJpeg(QByteArray("GIF89a, not a JPEG")), std::runtime_error);
  EXPECT_THROW(app::LoadJpegResource(":/pictures/missing.jpg"), std::runtime_error);
}

TEST(JpegImage, EveryPictureIsInTheResources) {
  app::InitPictureResources();
  struct Row {
    const char* path;
    int side;
  };
  for (const Row& row :
       {Row{":/pictures/icon.png", 32}, Row{":/pictures/quelbarin-48.png", 48},
        Row{":/pictures/quelbarin-128.png", 128}, Row{":/pictures/quelbarin-256.png", 256},
        Row{":/pictures/leaf-mp3.png", 16}, Row{":/pictures/leaf-wav.png", 16},
        Row{":/pictures/play.png", 16}, Row{":/pictures/stop.png", 16},
        Row{":/pictures/exit.png", 16}}) {
    SCOPED_TRACE(row.path);
    const QImage image(QString::fromLatin1(row.path));
    EXPECT_EQ(image.size(), QSize(row.side, row.side));
  }
  // The button glyphs lie on a transparent ground.
  EXPECT_EQ(qAlpha(QImage(":/pictures/play.png").pixel(0, 0)), 0);
  EXPECT_TRUE(QFile::exists(":/pictures/quelbarin.svg"));
}

}  // namespace
