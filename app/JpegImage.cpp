#include "app/JpegImage.h"

#include <jpeglib.h>

#include <QFile>
#include <csetjmp>
#include <cstdio>
#include <stdexcept>
#include <string>

// Outside any namespace: Q_INIT_RESOURCE names a global function.
static void RegisterPictureResources() {
  Q_INIT_RESOURCE(pictures);
}

namespace app {
namespace {

// libjpeg reports a fatal error through error_exit, which must not return: it jumps back to
// DecodeInto with the message kept here.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, errors->message);
  std::longjmp(errors->jump, 1);
}

// Level -1 is a warning ("Premature end of JPEG file", "Corrupt JPEG data"): libjpeg would go
// on and fill the missing part with grey. We refuse such a picture. Trace levels are ignored;
// nothing is printed.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0) ErrorExit(cinfo);
}

struct DecodeResult {
  bool ok = false;
  bool cmyk = false;       // rows hold C, M, Y, K rather than R, G, B, X
  bool adobeCmyk = false;  // Adobe's inverted CMYK
};

// Runs libjpeg over `bytes` into `*image`. Holds no object with a destructor across libjpeg
// calls, since an error leaves by longjmp; on failure `errors.message` says why.
DecodeResult DecodeInto(const QByteArray& bytes, ErrorManager& errors, QImage* image) {
  jpeg_decompress_struct cinfo;
  cinfo.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = ErrorExit;
  errors.pub.emit_message = EmitMessage;
  errors.message[0] = '\0';
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return {};
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.constData()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  DecodeResult result;
  result.cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  result.adobeCmyk = cinfo.saw_Adobe_marker != 0;
  // Four bytes a pixel either way, so the rows go straight into the image.
  cinfo.out_color_space = result.cmyk ? JCS_CMYK : JCS_EXT_RGBX;
  jpeg_start_decompress(&cinfo);
  *image = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                  QImage::Format_RGBX8888);
  if (image->isNull()) {
    std::snprintf(errors.message, sizeof errors.message, "picture of %u x %u is too large",
                  cinfo.output_width, cinfo.output_height);
    jpeg_destroy_decompress(&cinfo);
    return {};
  }
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = image->scanLine(static_cast<int>(cinfo.output_scanline));
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  result.ok = true;
  return result;
}

void CmykToRgb(QImage& image, bool adobeInverted) {
  for (int y = 0; y < image.height(); ++y) {
    uchar* pixel = image.scanLine(y);
    for (int x = 0; x < image.width(); ++x, pixel += 4) {
      int c = pixel[0], m = pixel[1], yellow = pixel[2], k = pixel[3];
      if (!adobeInverted) {
        c = 255 - c;
        m = 255 - m;
        yellow = 255 - yellow;
        k = 255 - k;
      }
      // Inverted form: each ink value is the amount of light let through.
      pixel[0] = static_cast<uchar>(c * k / 255);
      pixel[1] = static_cast<uchar>(m * k / 255);
      pixel[2] = static_cast<uchar>(yellow * k / 255);
      pixel[3] = 255;
    }
  }
}

}  // namespace

QImage DecodeJpeg(const QByteArray& bytes) {
  ErrorManager errors;
  QImage image;
  const DecodeResult result = DecodeInto(bytes, errors, &image);
  if (!result.ok) {
    throw std::runtime_error(std::string("cannot decode JPEG picture: ") + errors.message);
  }
  if (result.cmyk) CmykToRgb(image, result.adobeCmyk);
  return image.convertToFormat(QImage::Format_RGB32);
}

QImage LoadJpegResource(const QString& path) {
  InitPictureResources();
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    throw std::runtime_error("cannot read picture " + path.toStdString());
  }
  return DecodeJpeg(file.readAll());
}

void InitPictureResources() {
  static const bool registered = [] {
    RegisterPictureResources();
    return true;
  }();
  (void)registered;
}

}  // namespace app
