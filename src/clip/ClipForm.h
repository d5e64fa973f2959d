#pragma once

#include "ClipEditor.h"
#include "DialogService.h"

#include <QDialog>
#include <QImage>
#include <QStringList>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTreeView;

namespace halvora {

// A picture drawn as large as fits, with its aspect ratio kept, centred.
class TPictureBox : public QWidget {
    Q_OBJECT
public:
    explicit TPictureBox(QWidget* AParent = nullptr) : QWidget(AParent) {}
    void SetImage(const QImage& AImage);
    const QImage& Image() const { return FImage; }
    // The rectangle the picture occupies inside the control.
    QRect PictureRect() const;

protected:
    void paintEvent(QPaintEvent* AEvent) override;

private:
    QImage FImage;
};

// The keyframe ticks under the track bar: where copy cuts can start without re-encoding.
class TKeyframeTicks : public QWidget {
    Q_OBJECT
public:
    TKeyframeTicks(QSlider* ATrack, QWidget* AParent);
    void SetTicks(const QVector<double>& ASeconds);
    // The x of each tick within this control, lined up with the thumb's centre at that second.
    QVector<int> TickPositions() const;

protected:
    void paintEvent(QPaintEvent* AEvent) override;

private:
    QSlider* FTrack;
    QVector<double> FSeconds;
};

// The clip editor window: one video, still-frame preview and libVLC playback, a list of
// stretches to delete and the export of the rest as one MP4. Shown modally by the main window,
// which destroys it when it closes. Its behaviour lives in ClipEditor; this is the view.
class TClipForm : public QDialog, private ClipView {
    Q_OBJECT
public:
    explicit TClipForm(DialogService& ADialogs, QWidget* AOwner = nullptr);
    ~TClipForm() override;

    void LoadFile(const QString& Fn) { FEditor.LoadFile(Fn); }
    // Opens AFile as its Open button does with a chosen file.
    void OpenFile(const QString& AFile) { FEditor.OpenChosenFile(AFile); }

    // Where the VLC runtime is looked for (tests point it elsewhere); takes effect for a player
    // created afterwards.
    void SetLibVlcCandidates(const QStringList& ACandidates);
    void SetClipEnv(const ClipEnv& AEnv) { FEditor.SetClipEnv(AEnv); }

    ClipEditor& Editor() { return FEditor; }
    const QString& InFile() const { return FEditor.InFile(); }
    std::int32_t Duration() const { return FEditor.Duration(); }
    bool Playing() const { return FEditor.Playing(); }
    ClipPlayer* Player() const { return FEditor.Player(); }
    SegmentModel& Segments() { return FEditor.Segments(); }
    FramePreview& Preview() { return FEditor.Preview(); }
    QTimer& PlayTimer() { return FEditor.PlayTimer(); }

    void BtnPlayClick() { FEditor.TogglePlayback(); }

    void done(int ACode) override;

protected:
    void resizeEvent(QResizeEvent* AEvent) override;
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override;
    void keyPressEvent(QKeyEvent* AEvent) override;
    void dragEnterEvent(QDragEnterEvent* AEvent) override;
    void dropEvent(QDropEvent* AEvent) override;

private:
    void BuildLayout();
    void BuildEditing();
    void ConnectKeys();
    // The keys of the time line and the picture; false for a key they leave to the control.
    bool TimeLineKey(QKeyEvent* AEvent, bool AOnPicture);
    void LvSegsContextMenu(const QPoint& APos);
    void BtnKeysClick();

    // ClipView
    void setStatus(const QString& AText) override;
    BoxAnswer message(BoxKind AKind, const QString& AText, BoxButtons AButtons) override;
    QString openFile(const QString& ATitle, const QString& AFilter) override;
    QString pickFolder(const QString& ATitle) override;
    QString saveFile(const QString& ATitle, const QString& AStart, const QString& AFilter) override;
    void setFileText(const QString& AText) override;
    int trackPosition() override;
    void setTrackMaximum(int AMax) override;
    void setTrackPosition(int APos) override;
    void setTimeText(const QString& AText) override;
    void setClockText(const QString& AText) override;
    void setVideoSizeText(const QString& AText) override;
    void setAudioTracksText(const QString& AText) override;
    QString outputText() override;
    void setOutputText(const QString& AText) override;
    QString cropText() override;
    bool separateFiles() override;
    int selectedSegment() override;
    void SetEditingEnabled(bool On) override;
    void setPreviewVisible(bool AVisible) override;
    quintptr previewWindow() override;
    void setPlayText(const QString& AText) override;
    void setKeyframeTicks(const QVector<double>& ASeconds) override;
    void setExporting(bool AOn) override;
    void setLoading(bool AOn) override;

    DialogService& FDialogs;

    QLineEdit* EdtClip = nullptr;
    QPushButton* BtnOpen = nullptr;
    QWidget* PanelPreview = nullptr;
    TPictureBox* ImgPreview = nullptr;
    QWidget* Panel1 = nullptr;
    QSlider* TrackBar1 = nullptr;
    TKeyframeTicks* KeyframeTicks = nullptr;
    QLabel* LblTime = nullptr;
    QLineEdit* EdtTime = nullptr; // the position as hh:mm:ss.mmm; Enter goes there
    QPushButton* BtnStart = nullptr;
    QPushButton* BtnEnd = nullptr;
    QPushButton* BtnDel = nullptr;
    QPushButton* BtnClear = nullptr;
    QPushButton* BtnPlay = nullptr;
    QPushButton* BtnUndo = nullptr;
    QPushButton* BtnRedo = nullptr;
    QPushButton* BtnKeys = nullptr;       // the key list (also ?)
    QPushButton* BtnExportList = nullptr; // the segments as CSV
    QTreeView* LvSegs = nullptr;
    QLineEdit* EdtOut = nullptr;
    QPushButton* BtnOut = nullptr;
    QPushButton* BtnExport = nullptr;
    QLabel* LblVideoSize = nullptr;
    QLabel* LblAudio = nullptr; // the audio tracks, under the picture size
    QLabel* LblCrop = nullptr;
    QLineEdit* EdtCrop = nullptr;
    QLabel* LblStatus = nullptr;
    QCheckBox* ChkParts = nullptr;  // each kept stretch as its own file
    QPushButton* BtnStop = nullptr; // ends a running export or opening (also Esc)
    bool FCloseAfterExport = false; // the user chose to stop the export and close
    QString FLoadNote;              // added to the status once the opening video has loaded

    ClipEditor FEditor;
};

} // namespace halvora
