#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace halvora {

// Decodes a JPEG with libjpeg-turbo into an RGB888 (or Grayscale8) image. A corrupt or
// truncated file gives a null image and the decoder's reason in AErr; it never ends the
// process.
QImage DecodeJpeg(const QByteArray& AData, QString* AErr = nullptr);
QImage LoadJpegFile(const QString& APath, QString* AErr = nullptr);

} // namespace halvora
