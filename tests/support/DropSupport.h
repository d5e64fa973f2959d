#pragma once

#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QWidget>
#include <QWindow>

namespace halvora::test {

// A drag that enters AWindow's native window at APos (window coordinates), moves there and
// drops AMime, as the window system delivers it: Qt picks the widget under the point that
// accepts drops. Gives whether the drop was accepted.
inline bool DropOnto(QWidget* AWindow, const QPoint& APos, const QMimeData& AMime) {
    QWindow* handle = AWindow->windowHandle();
    if (!handle)
        return false;
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(APos, actions, &AMime, Qt::LeftButton, Qt::NoModifier);
    QGuiApplication::sendEvent(handle, &enter);
    // As Qt's drag manager does: the move carries what the enter accepted.
    QDragMoveEvent move(APos, actions, &AMime, Qt::LeftButton, Qt::NoModifier);
    if (enter.isAccepted()) {
        move.setDropAction(enter.dropAction());
        move.accept();
    } else {
        move.ignore();
    }
    QGuiApplication::sendEvent(handle, &move);
    if (!move.isAccepted()) {
        QDragLeaveEvent leave;
        QGuiApplication::sendEvent(handle, &leave);
        return false;
    }
    QDropEvent drop(APos, actions, &AMime, Qt::LeftButton, Qt::NoModifier);
    QGuiApplication::sendEvent(handle, &drop);
    return drop.isAccepted();
}

// The centre of AWidget in its window's coordinates.
inline QPoint CentreInWindow(const QWidget* AWidget) {
    return AWidget->mapTo(AWidget->window(), AWidget->rect().center());
}

} // namespace halvora::test
