#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>

class QMimeData;

namespace halvora {

// Where files and links handed to the program arrive.
enum class InputTarget {
    MainWindow,  // dropped onto the main window
    ClipWindow,  // dropped onto the clip editor
    CommandLine, // named on the command line (a file manager's "Open with")
};

enum class InputAction {
    None,      // nothing usable: the drop is refused
    FillInput, // the main window's input field (a file or an http(s) link)
    FillRoot,  // the main window's batch root field (a folder)
    OpenClip,  // the clip editor opens the file
};

struct InputChoice {
    InputAction action = InputAction::None;
    QString text;    // the local path or the link
    int ignored = 0; // items after the first, left unused
};

// Decides what a drop or the command line's items do: the first item counts. A file:// URL
// becomes its local path; http(s) links are kept as links; other schemes are refused.
// AIsFolder tells whether a local path names a folder (the file system by default).
InputChoice ChooseInput(const QList<QUrl>& AItems, InputTarget ATarget,
                        const std::function<bool(const QString&)>& AIsFolder = {});

// Command-line arguments as items: http(s) and file URLs as given, anything else a path
// relative to ACurrentDir.
QList<QUrl> ArgumentItems(const QStringList& AArgs, const QString& ACurrentDir);

// The items of a drop: its URL list, else a link or an absolute path given as text.
QList<QUrl> MimeItems(const QMimeData& AMime);

// "Took the first of 3 items; the other 2 were ignored." (AIgnored > 0), else empty.
QString IgnoredItemsText(int AIgnored);

} // namespace halvora
