#pragma once

#include "ClipEnv.h"
#include "ClipExport.h"
#include "DialogService.h"
#include "FramePreview.h"
#include "SegmentModel.h"
#include "VLCPlayer.h"

#include <QDialog>
#include <QImage>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTreeView;

namespace halvora {

// The default output for a loaded video: its extension (from the last dot of the file name on)
// replaced by "cit.mp4", in the same folder: /v/movie.mp4 -> /v/moviecit.mp4.
QString DefaultClipOutput(const QString& AInFile);
// The output in a picked folder: /out + movie.mp4 -> /out/movie_edited.mp4.
QString EditedClipOutput(const QString& AFolder, const QString& AInFile);

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

// The clip editor window: one video, still-frame preview and libVLC playback, a list of
// stretches to delete and the export of the rest as one MP4. Shown modally by the main window,
// which destroys it when it closes.
class TClipForm : public QDialog, private ExportView {
    Q_OBJECT
public:
    explicit TClipForm(DialogService& ADialogs, QWidget* AOwner = nullptr);
    ~TClipForm() override;

    void LoadFile(const QString& Fn);

    // Where the VLC runtime is looked for (tests point it elsewhere); takes effect for a player
    // created afterwards.
    void SetLibVlcCandidates(const QStringList& ACandidates) { FLibCandidates = ACandidates; }
    // The ffmpeg environment (tests); the working folder is still chosen when a file is opened.
    void SetClipEnv(const ClipEnv& AEnv);

    const QString& InFile() const { return FInFile; }
    std::int32_t Duration() const { return FDuration; }
    bool Playing() const { return FPlaying; }
    TVLCPlayer* Player() const { return FVLC.get(); }
    SegmentModel& Segments() { return FSegments; }
    FramePreview& Preview() { return FPreview; }
    QTimer& PlayTimer() { return FTimerPlay; }

    void BtnOpenClick();
    void BtnOutClick();
    void BtnPlayClick();
    void BtnStartClick();
    void BtnEndClick();
    void BtnDelClick();
    void BtnClearClick();
    void BtnExportClick();
    void TrackBarChange();
    void PlayTick();

    void done(int ACode) override;

private:
    void BuildLayout();
    void LayoutToSize();
    void StopPlayback();
    void SetEditingEnabled(bool On);
    void FormClose();
    void SetStatus(const QString& AText);

    // ExportView
    void setStatus(const QString& AText) override { SetStatus(AText); }
    BoxAnswer message(BoxKind AKind, const QString& AText, BoxButtons AButtons) override;
    void processMessages() override;

protected:
    void resizeEvent(QResizeEvent* AEvent) override;

private:
    DialogService& FDialogs;

    QLineEdit* EdtClip = nullptr;
    QPushButton* BtnOpen = nullptr;
    QWidget* PanelPreview = nullptr;
    TPictureBox* ImgPreview = nullptr;
    QWidget* Panel1 = nullptr;
    QSlider* TrackBar1 = nullptr;
    QLabel* LblTime = nullptr;
    QPushButton* BtnStart = nullptr;
    QPushButton* BtnEnd = nullptr;
    QPushButton* BtnDel = nullptr;
    QPushButton* BtnClear = nullptr;
    QPushButton* BtnPlay = nullptr;
    QTreeView* LvSegs = nullptr;
    QLineEdit* EdtOut = nullptr;
    QPushButton* BtnOut = nullptr;
    QPushButton* BtnExport = nullptr;
    QLabel* LblVideoSize = nullptr;
    QLabel* LblCrop = nullptr;
    QLineEdit* EdtCrop = nullptr;
    QLabel* LblStatus = nullptr;

    QString FInFile;
    std::int32_t FDuration = 0;
    QString FTempDir;
    bool FPlaying = false;
    bool FSyncing = false;
    std::unique_ptr<TVLCPlayer> FVLC;

    ClipEnv FEnv;
    SegmentModel FSegments;
    FramePreview FPreview; // holds the debounce timer FTimer and the still picture
    QTimer& FTimer;
    QTimer FTimerPlay;
    QStringList FLibCandidates;
};

} // namespace halvora
