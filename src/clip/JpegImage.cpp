#include "JpegImage.h"

#include <QFile>

#include <csetjmp>
#include <cstdio>
#include <jpeglib.h>

namespace halvora {

namespace {

// Beyond this many pixels a header is taken for corrupt rather than allocating for it.
constexpr unsigned long long kMaxPixels = 64ULL * 1024 * 1024;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char text[JMSG_LENGTH_MAX];
};

void OnError(j_common_ptr AInfo) {
    auto* err = reinterpret_cast<ErrorManager*>(AInfo->err);
    (*AInfo->err->format_message)(AInfo, err->text);
    std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr) {} // warnings are not printed

// Only plain C objects live in this frame, so a longjmp out of libjpeg skips no destructor.
// AOut is filled in place; on failure it holds garbage that the caller drops.
bool DecodeInto(const unsigned char* AData, unsigned long ASize, QImage* AOut, char* AErr,
                std::size_t AErrSize) {
    jpeg_decompress_struct info;
    ErrorManager err;
    info.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = OnError;
    err.pub.output_message = OnMessage;
    err.text[0] = '\0';
    if (setjmp(err.jump)) {
        std::snprintf(AErr, AErrSize, "%s", err.text);
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, AData, ASize);
    jpeg_read_header(&info, TRUE);
    const bool gray = info.num_components == 1;
    info.out_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&info);
    if (static_cast<unsigned long long>(info.output_width) * info.output_height > kMaxPixels ||
        info.output_components != (gray ? 1 : 3)) {
        std::snprintf(AErr, AErrSize, "unsupported picture size or layout");
        jpeg_destroy_decompress(&info);
        return false;
    }
    *AOut = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                   gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (AOut->isNull()) {
        std::snprintf(AErr, AErrSize, "out of memory");
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = AOut->scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    // A truncated file is padded by libjpeg with a warning; don't show half a picture.
    const bool truncated = err.pub.num_warnings > 0;
    jpeg_destroy_decompress(&info);
    if (truncated) {
        std::snprintf(AErr, AErrSize, "corrupt or truncated JPEG data");
        return false;
    }
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& AData, QString* AErr) {
    if (AErr)
        AErr->clear();
    if (AData.isEmpty()) {
        if (AErr)
            *AErr = QStringLiteral("empty file");
        return {};
    }
    QImage image;
    char reason[JMSG_LENGTH_MAX + 64] = {};
    if (!DecodeInto(reinterpret_cast<const unsigned char*>(AData.constData()),
                    static_cast<unsigned long>(AData.size()), &image, reason, sizeof reason)) {
        if (AErr)
            *AErr = QString::fromLocal8Bit(reason);
        return {};
    }
    return image;
}

QImage LoadJpegFile(const QString& APath, QString* AErr) {
    QFile f(APath);
    if (!f.open(QIODevice::ReadOnly)) {
        if (AErr)
            *AErr = f.errorString();
        return {};
    }
    return DecodeJpeg(f.readAll(), AErr);
}

} // namespace halvora
