#pragma once

#include "Dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace halvora::test {

// One message box as a window showed it.
struct Box {
    BoxKind kind = BoxKind::Information;
    QString text;
    BoxButtons buttons = BoxButtons::Ok;
    QString title;
};

// Records the boxes shown and answers them as a person would: a box with only OK is answered
// Ok; a question gets the next queued answer, or Closed when none is left.
class BoxRecorder {
public:
    QList<Box> boxes;
    QList<BoxAnswer> answers;                    // to the questions, in order
    std::function<BoxAnswer(const Box&)> answer; // when set, answers every box instead
    std::function<void()> onBox;                 // runs as a box opens, before its answer

    BoxAnswer record(BoxKind AKind, const QString& AText, BoxButtons AButtons,
                     const QString& ATitle = {}) {
        boxes << Box{AKind, AText, AButtons, ATitle};
        if (onBox)
            onBox();
        if (answer)
            return answer(boxes.last());
        if (AButtons == BoxButtons::Ok)
            return BoxAnswer::Ok;
        return answers.isEmpty() ? BoxAnswer::Closed : answers.takeFirst();
    }
    QStringList texts() const {
        QStringList all;
        for (const Box& b : boxes)
            all << b.text;
        return all;
    }
};

} // namespace halvora::test
