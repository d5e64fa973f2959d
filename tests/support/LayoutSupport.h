#pragma once

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QStringList>
#include <QWidget>

namespace halvora::test {

// What a user would see wrong in AWindow's layout: a named control sticking out of its panel,
// two visible controls of one panel on top of each other, or a button or label too narrow or
// low for its text (labels that give up their width on purpose excepted).
inline QStringList LayoutProblems(QWidget* AWindow) {
    QStringList problems;
    auto isPanel = [AWindow](const QWidget* AParent) {
        return AParent == AWindow || AParent->metaObject() == &QWidget::staticMetaObject ||
               AParent->metaObject() == &QFrame::staticMetaObject;
    };
    QList<QWidget*> shown;
    for (QWidget* w : AWindow->findChildren<QWidget*>()) {
        if (w->objectName().isEmpty() || !w->isVisible() || !isPanel(w->parentWidget()))
            continue;
        shown << w;
        const QString name = w->objectName();
        if (!w->parentWidget()->rect().contains(w->geometry()))
            problems << name + " sticks out of its panel";
        const bool readable = qobject_cast<QAbstractButton*>(w) ||
                              (qobject_cast<QLabel*>(w) &&
                               w->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored);
        if (readable && !w->hasHeightForWidth() &&
            (w->sizeHint().width() > w->width() || w->sizeHint().height() > w->height()))
            problems << name + " cuts its text";
    }
    for (qsizetype i = 0; i < shown.size(); ++i)
        for (qsizetype j = i + 1; j < shown.size(); ++j)
            if (shown[i]->parentWidget() == shown[j]->parentWidget() &&
                shown[i]->geometry().intersects(shown[j]->geometry()))
                problems << shown[i]->objectName() + " overlaps " + shown[j]->objectName();
    return problems;
}

} // namespace halvora::test
