#pragma once

#include <QPoint>
#include <QSize>

class QBoxLayout;
class QHBoxLayout;
class QLayout;
class QVBoxLayout;
class QWidget;

namespace halvora {

// Lays a window or panel out in rows with Qt layouts so that it can grow, while at its designed
// size every control sits exactly where it was drawn. A row keeps its designed top and height
// (more when its controls need it); within a row the controls keep their designed distances, and
// the stretching ones take the extra width. Rows given a stretch take the extra height.
class DesignRows {
public:
    // Installs the layout on AParent, whose designed size is ADesigned.
    DesignRows(QWidget* AParent, QSize ADesigned);

    // Starts a row at ATop, AHeight high at the designed size.
    void Row(int ATop, int AHeight, int AStretch = 0);
    // The next control of the row: designed at ALeft, AWidth wide, ADy below the row's top; it
    // never gets narrower than designed, nor lower than AHeight. A control of a stretching row
    // fills the row's height.
    void Add(QWidget* AWidget, int ALeft, int AWidth, int AStretch = 0, int ADy = 0,
             int AHeight = 0);
    // Controls stacked in a column, placed as one.
    void Add(QLayout* ALayout, int ALeft, int AWidth, int AStretch = 0);
    // The gap before the next control grows with the row, which pushes it to the right.
    void Spring();
    // Keeps AWidget at least AWidth wide (AFixed: no wider) and AHeight high, and as large as
    // its text needs, also when its font changes.
    static void KeepSize(QWidget* AWidget, int AWidth, bool AFixed, int AHeight);
    // Ends the last row; the rest down to the designed bottom stays a margin.
    void Finish();

private:
    void EndRow();
    void Gap(int ALeft);

    QVBoxLayout* FColumn;
    QPoint FOrigin;
    QSize FDesigned;
    QHBoxLayout* FRow = nullptr;
    int FRowStretch = 0;
    int FBottom = 0;
    int FX = 0;
    bool FGrows = false;
};

} // namespace halvora
