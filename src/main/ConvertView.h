#pragma once

#include "Dialogs.h"
#include "HlsMaster.h"
#include "RequestHeaders.h"

#include <QString>
#include <cstdint>

namespace halvora {

// What single and batch conversion need of the main window. The window implements it; tests
// drive the conversions through a recording fake.
class ConvertView {
public:
    virtual ~ConvertView() = default;

    virtual QString inputText() const = 0;  // EdtInput, as typed
    virtual QString outputText() const = 0; // EdtOutput, as typed
    virtual void setOutputText(const QString& AText) = 0;
    // The MP4's file name when the caller chose one; empty: made from the input (OutputName).
    virtual QString outputName() const { return {}; }
    virtual QString rootText() const = 0; // EdtRoot, as typed
    virtual bool fastMode() const = 0;    // ChkFast, read at the moment it matters
    // The quality to fetch of a link's master playlist.
    virtual QualityChoice qualityChoice() const { return {}; }
    // The request headers and cookies file sent with every request of a link; none by default
    // (a caller without a window can give its own).
    virtual RequestHeaders requestHeaders() const { return {}; }

    virtual void setStatus(const QString& AText) = 0;
    virtual void setProgress(int APosition) = 0; // clamped to the bar's range
    virtual void setProgressMax(int AMax) = 0;
    virtual int progressMax() const = 0;
    // Where the running ffmpeg is, in milliseconds of its input, out of ATotalMs (-1 for a
    // stream of unknown length); for views that show more than the bar.
    virtual void progressAt(std::int64_t /*APositionMs*/, std::int64_t /*ATotalMs*/) {}

    // A modal box; warning, error and information boxes have OK only.
    virtual BoxAnswer showMessage(BoxKind AKind, const QString& AText, BoxButtons AButtons) = 0;
    // The folder picker; empty when cancelled.
    virtual QString pickFolder(const QString& ATitle) = 0;
    // True once the window has been closed (the application is ending): the flow asks before
    // each ffmpeg run it starts and starts none once it is so.
    virtual bool closed() const { return false; }
};

} // namespace halvora
