#pragma once

#include "FeedbackStore.h"

#include <QByteArray>
#include <QList>

namespace halvora::service {

enum class ExportFormat { Text, Csv, Json };

// The posts as the maker reads them: a readable listing, CSV (RFC 4180; a cell that a
// spreadsheet would take for a formula gets a leading apostrophe) or a JSON array.
QByteArray FormatFeedback(const QList<StoredFeedback>& APosts, ExportFormat AFormat);

} // namespace halvora::service
