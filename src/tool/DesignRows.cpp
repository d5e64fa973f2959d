#include "DesignRows.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>

namespace halvora {

namespace {

// Keeps a control at least as large as designed and as its text needs, also after its font or
// style changes (an explicit minimum replaces the one the text would give).
class SizeKeeper : public QObject {
public:
    SizeKeeper(QWidget* AWidget, int AWidth, bool AFixed, int AHeight)
        : QObject(AWidget), FWidget(AWidget), FWidth(AWidth), FHeight(AHeight), FFixed(AFixed) {
        Apply();
        AWidget->installEventFilter(this);
    }

    bool eventFilter(QObject* AWatched, QEvent* AEvent) override {
        // A panel's needs change with its controls' (its layout asks again).
        const QEvent::Type t = AEvent->type();
        if (AWatched == FWidget &&
            (t == QEvent::FontChange || t == QEvent::StyleChange || t == QEvent::LayoutRequest))
            Apply();
        return false;
    }

private:
    // Setting an unchanged limit does nothing, so the layouts settle.
    void Apply() {
        const bool ownWidth = FWidget->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored;
        const int width = ownWidth ? std::max(FWidth, FWidget->minimumSizeHint().width()) : FWidth;
        if (FFixed)
            FWidget->setFixedWidth(width);
        else
            FWidget->setMinimumWidth(width);
        if (FHeight > 0) {
            const QSizePolicy::Policy v = FWidget->sizePolicy().verticalPolicy();
            const int needs = (v & QSizePolicy::ShrinkFlag) ? FWidget->minimumSizeHint().height()
                                                            : FWidget->sizeHint().height();
            FWidget->setMinimumHeight(std::max(FHeight, needs));
        }
    }

    QWidget* FWidget;
    int FWidth;
    int FHeight;
    bool FFixed;
};

} // namespace

void DesignRows::KeepSize(QWidget* AWidget, int AWidth, bool AFixed, int AHeight) {
    new SizeKeeper(AWidget, AWidth, AFixed, AHeight);
}

DesignRows::DesignRows(QWidget* AParent, QSize ADesigned) : FColumn(new QVBoxLayout(AParent)) {
    FColumn->setContentsMargins(0, 0, 0, 0);
    FColumn->setSpacing(0);
    // Places are designed from the outer corner; a frame's line already takes its margin.
    const QMargins frame = AParent->contentsMargins();
    FOrigin = QPoint(frame.left(), frame.top());
    FDesigned = ADesigned - QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
}

void DesignRows::Row(int ATop, int AHeight, int AStretch) {
    EndRow();
    ATop -= FOrigin.y();
    FColumn->addSpacing(ATop - FBottom);
    FRow = new QHBoxLayout;
    FRow->setContentsMargins(0, 0, 0, 0);
    FRow->setSpacing(0);
    FRow->addStrut(AHeight);
    FColumn->addLayout(FRow, AStretch);
    FRowStretch = AStretch;
    FBottom = ATop + AHeight;
    FX = 0;
    FGrows = false;
}

void DesignRows::Gap(int ALeft) {
    ALeft -= FOrigin.x();
    if (ALeft > FX)
        FRow->addSpacing(ALeft - FX);
}

void DesignRows::Spring() {
    FRow->addStretch(1);
    FGrows = true;
}

void DesignRows::Add(QWidget* AWidget, int ALeft, int AWidth, int AStretch, int ADy, int AHeight) {
    Gap(ALeft);
    QSizePolicy policy = AWidget->sizePolicy();
    if (AStretch == 0)
        policy.setHorizontalPolicy(QSizePolicy::Fixed);
    else if (policy.horizontalPolicy() == QSizePolicy::Fixed)
        policy.setHorizontalPolicy(QSizePolicy::Preferred);
    AWidget->setSizePolicy(policy);
    // A label follows its text; anything else that doesn't stretch keeps its designed width.
    KeepSize(AWidget, AWidth, AStretch == 0 && !qobject_cast<QLabel*>(AWidget), AHeight);
    const Qt::Alignment align = FRowStretch > 0 ? Qt::Alignment() : Qt::AlignTop;
    if (ADy > 0) {
        auto* column = new QVBoxLayout;
        column->setContentsMargins(0, ADy, 0, 0);
        column->setSpacing(0);
        column->addWidget(AWidget, 0, align);
        if (FRowStretch == 0)
            column->addStretch(1);
        FRow->addLayout(column, AStretch);
    } else {
        FRow->addWidget(AWidget, AStretch, align);
    }
    FX = ALeft - FOrigin.x() + AWidth;
    FGrows = FGrows || AStretch > 0;
}

void DesignRows::Add(QLayout* ALayout, int ALeft, int AWidth, int AStretch) {
    Gap(ALeft);
    ALayout->setContentsMargins(0, 0, 0, 0);
    FRow->addLayout(ALayout, AStretch);
    if (FRowStretch == 0)
        FRow->setAlignment(ALayout, Qt::AlignTop);
    FX = ALeft - FOrigin.x() + AWidth;
    FGrows = FGrows || AStretch > 0;
}

void DesignRows::EndRow() {
    if (!FRow)
        return;
    // A row without a stretching control keeps its controls at the left; otherwise the designed
    // right margin stays.
    if (FGrows)
        Gap(FDesigned.width() + FOrigin.x());
    else
        FRow->addStretch(1);
    FRow = nullptr;
}

void DesignRows::Finish() {
    EndRow();
    if (FDesigned.height() > FBottom)
        FColumn->addSpacing(FDesigned.height() - FBottom);
}

} // namespace halvora
