#pragma once

#include "FileDigest.h"

#include <QString>
#include <QtGlobal>
#include <functional>

// The two request operations that provisioning rests on. Free functions with no state: each
// call makes its own client, so they may run on any thread.
namespace halvora {

// GET AUrl with ATimeoutMs as both the connection and the response timeout. Gives the body
// decoded as UTF-8 when the status is 200 (AErr empty); otherwise an empty text and AErr
// "HTTP <code>" or the transport's error text.
// ACancel, when set, is asked while the request runs; true abandons it.
QString HttpGetText(const QString& AUrl, int ATimeoutMs, QString& AErr,
                    const std::function<bool()>& ACancel = {});

struct DownloadTimeouts {
    int connectMs = 15000;
    int responseMs = 900000; // longest wait with no data
};

// Streams the body of AUrl into ADestPath (an existing file is replaced), then checks the
// status (200 only), the size when AExpectedSize > 0, and the SHA-256 when ASha256 is not empty
// (hex, ASCII case ignored, no trimming). True leaves the verified file in place; false leaves
// no file at ADestPath and the reason in AErr: "HTTP <code>", "incomplete download (A of E
// bytes)", "integrity check failed", or the transport's or file system's error text.
// ACancel, when set, is asked while the body arrives; true abandons the download.
// Without an expected size, a body longer than AMaxBytes (when > 0) is cut off. AProgress, when
// set, is called with the bytes received so far as the body arrives.
bool DownloadFile(const QString& AUrl, const QString& ADestPath, const QString& ASha256,
                  qint64 AExpectedSize, QString& AErr, const DownloadTimeouts& ATimeouts = {},
                  const std::function<bool()>& ACancel = {}, qint64 AMaxBytes = 0,
                  const std::function<void(qint64)>& AProgress = {});

} // namespace halvora
