// JPEG pictures of the windows (the banner, the about picture), decoded with libjpeg, and the
// registration of the window's picture resources (app/pictures/pictures.qrc, prefix
// "/pictures").
// Threading: any thread, no application object needed; InitPictureResources registers once
// even when called from several threads at a time.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace app {

// Decodes a whole JPEG file held in `bytes` into an RGB32 image. Greyscale, YCbCr and CMYK
// (Adobe's inverted form) files are accepted. A damaged, truncated or empty file throws
// std::runtime_error with libjpeg's description; libjpeg's warnings count as damage, since a
// warning means part of the picture was made up.
QImage DecodeJpeg(const QByteArray& bytes);

// Reads the resource (or file) at `path`, e.g. ":/pictures/about.jpg", and decodes it.
// Throws std::runtime_error when it cannot be read or decoded.
QImage LoadJpegResource(const QString& path);

// Makes sure the picture resources are registered. The resources live in a static library,
// whose registration code the linker would otherwise be free to leave out; LoadJpegResource
// calls this, and so may any code that loads a picture before it.
void InitPictureResources();

}  // namespace app
