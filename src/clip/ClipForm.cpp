#include "ClipForm.h"

#include "AppPaths.h"
#include "MediaProbe.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSlider>
#include <QTreeView>

namespace halvora {

namespace {

constexpr int kClientWidth = 857;
constexpr int kClientHeight = 876;
constexpr int kPanel1Height = 426;
// The preview panel is anchored on all sides: these are its distances to the right and bottom
// edges of the client area at the designed size.
constexpr int kPreviewRightGap = kClientWidth - (8 + 801);
constexpr int kPreviewBottomGap = kClientHeight - (46 + 364);

QString CutExtension(const QString& AFileName) {
    const qsizetype dot = AFileName.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? AFileName : AFileName.left(dot);
}

} // namespace

QString DefaultClipOutput(const QString& AInFile) {
    const qsizetype slash = AInFile.lastIndexOf(QLatin1Char('/'));
    return AInFile.left(slash + 1) + CutExtension(AInFile.mid(slash + 1)) +
           QStringLiteral("cit.mp4");
}

QString EditedClipOutput(const QString& AFolder, const QString& AInFile) {
    QString out = AFolder;
    if (!out.endsWith(QLatin1Char('/')))
        out += QLatin1Char('/');
    return out + CutExtension(QFileInfo(AInFile).fileName()) + QStringLiteral("_edited.mp4");
}

void TPictureBox::SetImage(const QImage& AImage) {
    FImage = AImage;
    update();
}

QRect TPictureBox::PictureRect() const {
    if (FImage.isNull() || FImage.width() <= 0 || FImage.height() <= 0)
        return {};
    const QSize s = FImage.size().scaled(size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - s.width()) / 2, (height() - s.height()) / 2), s);
}

void TPictureBox::paintEvent(QPaintEvent*) {
    const QRect r = PictureRect();
    if (r.isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(r, FImage);
}

TClipForm::TClipForm(DialogService& ADialogs, QWidget* AOwner)
    : QDialog(AOwner), FDialogs(ADialogs), FTimer(FPreview.timer()),
      FLibCandidates(LibVlcCandidates(AppDir())) {
    BuildLayout();
    FPreview.setPositionSource([this] { return TrackBar1->value(); });
    connect(&FPreview, &FramePreview::imageChanged, ImgPreview, &TPictureBox::SetImage);
    FTimer.setInterval(500);
    FTimer.stop();
    FTimerPlay.setInterval(500);
    connect(&FTimerPlay, &QTimer::timeout, this, &TClipForm::PlayTick);
    SetEditingEnabled(false);
}

TClipForm::~TClipForm() {
    FormClose();
}

void TClipForm::BuildLayout() {
    setWindowTitle(QStringLiteral("Halvora - MP4 Clip (mark segments to delete, stitch the rest)"));
    setFont(QFont(QStringLiteral("Segoe UI"), 9));

    auto named = [](auto* AWidget, const char* AName) {
        AWidget->setObjectName(QLatin1String(AName));
        return AWidget;
    };
    auto button = [&](QWidget* AParent, const char* AName, const QString& AText, QRect AGeom) {
        auto* b = named(new QPushButton(AText, AParent), AName);
        b->setGeometry(AGeom);
        b->setAutoDefault(false);
        return b;
    };
    auto label = [&](QWidget* AParent, const char* AName, const QString& AText, QPoint APos,
                     int AWidth) {
        auto* l = named(new QLabel(AText, AParent), AName);
        l->setGeometry(APos.x(), APos.y(), std::max(AWidth, l->sizeHint().width()),
                       l->sizeHint().height());
        return l;
    };

    EdtClip = named(new QLineEdit(this), "EdtClip");
    EdtClip->setGeometry(8, 17, 537, 23);
    BtnOpen = button(this, "BtnOpen", QStringLiteral("Open MP4..."), {565, 13, 100, 28});

    PanelPreview = named(new QWidget(this), "PanelPreview");
    // libVLC draws into this panel's own X11 window.
    PanelPreview->setAttribute(Qt::WA_NativeWindow);
    PanelPreview->setGeometry(8, 46, 801, 364);
    PanelPreview->setAutoFillBackground(true);
    QPalette pal = PanelPreview->palette();
    pal.setColor(QPalette::Window, Qt::black);
    PanelPreview->setPalette(pal);
    ImgPreview = named(new TPictureBox(PanelPreview), "ImgPreview");
    ImgPreview->setGeometry(0, 0, 801, 364);
    PanelPreview->hide();

    Panel1 = named(new QWidget(this), "Panel1");
    Panel1->setGeometry(0, kClientHeight - kPanel1Height, kClientWidth, kPanel1Height);

    TrackBar1 = named(new QSlider(Qt::Horizontal, Panel1), "TrackBar1");
    TrackBar1->setGeometry(1, 0, 519, 30);
    TrackBar1->setRange(0, 0);
    TrackBar1->setSingleStep(1);
    LblTime = label(Panel1, "LblTime", QStringLiteral("00:00 / 00:00"), {541, 11}, 150);
    BtnStart = button(Panel1, "BtnStart", QStringLiteral("Mark start"), {26, 36, 100, 30});
    BtnEnd = button(Panel1, "BtnEnd", QStringLiteral("Mark end"), {174, 36, 100, 30});
    BtnDel = button(Panel1, "BtnDel", QStringLiteral("Remove marks"), {298, 36, 110, 30});
    BtnClear = button(Panel1, "BtnClear", QStringLiteral("Clear"), {424, 36, 80, 30});
    BtnPlay = button(Panel1, "BtnPlay", QStringLiteral("Play"), {526, 36, 80, 30});

    LvSegs = named(new QTreeView(Panel1), "LvSegs");
    LvSegs->setGeometry(11, 72, 612, 149);
    LvSegs->setModel(&FSegments);
    LvSegs->setRootIsDecorated(false);
    LvSegs->setItemsExpandable(false);
    LvSegs->setUniformRowHeights(true);
    LvSegs->setEditTriggers(QAbstractItemView::NoEditTriggers);
    LvSegs->setSelectionMode(QAbstractItemView::SingleSelection);
    LvSegs->setSelectionBehavior(QAbstractItemView::SelectRows);
    LvSegs->header()->setStretchLastSection(false);
    LvSegs->setColumnWidth(0, 380);
    LvSegs->setColumnWidth(1, 100);

    EdtOut = named(new QLineEdit(Panel1), "EdtOut");
    EdtOut->setGeometry(11, 227, 500, 23);
    BtnOut = button(Panel1, "BtnOut", QStringLiteral("Output dir..."), {541, 227, 100, 28});
    BtnExport = button(Panel1, "BtnExport",
                       QStringLiteral("Export (stitch everything except deleted segments)"),
                       {11, 261, 630, 36});
    LblVideoSize = label(Panel1, "LblVideoSize", QStringLiteral("Video: -"), {10, 351}, 170);
    LblCrop = label(Panel1, "LblCrop", QStringLiteral("Crop (optional)"), {187, 351}, 85);
    EdtCrop = named(new QLineEdit(Panel1), "EdtCrop");
    EdtCrop->setGeometry(274, 343, 108, 23);
    EdtCrop->setToolTip(QStringLiteral("W:H:x:y e.g. 1280:720:0:0 (crop requires re-encode)"));
    LblStatus = label(Panel1, "LblStatus", QStringLiteral("Ready - open MP4 to start clipping"),
                      {10, 392}, kClientWidth - 20);

    FTimer.setObjectName(QStringLiteral("FTimer"));
    FTimerPlay.setObjectName(QStringLiteral("FTimerPlay"));

    connect(BtnOpen, &QPushButton::clicked, this, &TClipForm::BtnOpenClick);
    connect(BtnOut, &QPushButton::clicked, this, &TClipForm::BtnOutClick);
    connect(BtnPlay, &QPushButton::clicked, this, &TClipForm::BtnPlayClick);
    connect(BtnStart, &QPushButton::clicked, this, &TClipForm::BtnStartClick);
    connect(BtnEnd, &QPushButton::clicked, this, &TClipForm::BtnEndClick);
    connect(BtnDel, &QPushButton::clicked, this, &TClipForm::BtnDelClick);
    connect(BtnClear, &QPushButton::clicked, this, &TClipForm::BtnClearClick);
    connect(BtnExport, &QPushButton::clicked, this, &TClipForm::BtnExportClick);
    connect(TrackBar1, &QSlider::valueChanged, this, &TClipForm::TrackBarChange);

    QWidget* order[] = {EdtClip, BtnOpen, TrackBar1, BtnStart,  BtnEnd, BtnDel, BtnClear,
                        BtnPlay, LvSegs,  EdtOut,    BtnExport, BtnOut, EdtCrop};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    resize(kClientWidth, kClientHeight);
    // Where it was designed to appear, moved back onto the screen when that doesn't fit.
    QPoint pos(829, 0);
    if (const QScreen* scr = QGuiApplication::primaryScreen()) {
        const QRect avail = scr->availableGeometry();
        pos.setX(std::max(avail.left(), std::min(pos.x(), avail.right() + 1 - kClientWidth)));
        pos.setY(std::max(avail.top(), std::min(pos.y(), avail.bottom() + 1 - kClientHeight)));
    }
    move(pos);
}

void TClipForm::LayoutToSize() {
    const int w = width();
    const int h = height();
    Panel1->setGeometry(0, h - kPanel1Height, w, kPanel1Height);
    PanelPreview->setGeometry(8, 46, std::max(0, w - 8 - kPreviewRightGap),
                              std::max(0, h - 46 - kPreviewBottomGap));
    ImgPreview->setGeometry(0, 0, PanelPreview->width(), PanelPreview->height());
}

void TClipForm::resizeEvent(QResizeEvent* AEvent) {
    QDialog::resizeEvent(AEvent);
    LayoutToSize();
}

void TClipForm::SetClipEnv(const ClipEnv& AEnv) {
    FEnv = AEnv;
    if (!FTempDir.isEmpty())
        FEnv.workDir = FTempDir;
    FPreview.setEnv(FEnv);
}

void TClipForm::SetStatus(const QString& AText) {
    LblStatus->setText(AText);
}

BoxAnswer TClipForm::message(BoxKind AKind, const QString& AText, BoxButtons AButtons) {
    return FDialogs.message(this, AKind, QStringLiteral("Halvora"), AText, AButtons);
}

void TClipForm::processMessages() {
    QCoreApplication::processEvents();
}

void TClipForm::SetEditingEnabled(bool On) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{BtnStart, BtnEnd, BtnDel, BtnClear, BtnPlay, BtnExport,
                                         BtnOut, TrackBar1, EdtOut, EdtCrop, LvSegs})
        w->setEnabled(On);
}

void TClipForm::BtnOpenClick() {
    const QString filter = QStringLiteral("Video files (*.mp4 *.ts *.mkv);;All files (*)");
    // Only a player that is actually playing is paused for the dialog, and only then resumed:
    // libVLC's pause toggles, so pausing a paused player would start it.
    const bool paused = FPlaying && FVLC && FVLC->IsPlaying();
    if (paused)
        FVLC->Pause();
    const QString path =
        FDialogs.openFile(this, QStringLiteral("Select MP4 file"), QString(), filter);
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        if (paused && FPlaying && FVLC)
            FVLC->Play();
        return;
    }
    EdtClip->setText(path);
    FTempDir = MakeClipWorkDir();
    FEnv.workDir = FTempDir;
    FPreview.setEnv(FEnv);
    LoadFile(path);
    if (!FInFile.isEmpty())
        BtnPlayClick();
}

void TClipForm::LoadFile(const QString& Fn) {
    if (FTempDir.isEmpty()) {
        FTempDir = MakeClipWorkDir();
        FEnv.workDir = FTempDir;
        FPreview.setEnv(FEnv);
    }
    SetEditingEnabled(false);
    FInFile.clear();
    FPreview.setVideo(QString());
    const QString name = QFileInfo(Fn).fileName();
    SetStatus(QStringLiteral("Reading ") + name + QStringLiteral("..."));
    processMessages();
    StopPlayback();
    if (FVLC)
        FVLC->Reset();

    LblVideoSize->setText(QStringLiteral("Video: ") + ProbeVideoSize(Fn, FEnv));
    FDuration = ProbeDuration(Fn, FEnv);
    if (FDuration <= 0) {
        SetStatus(QStringLiteral("Cannot read this file: ") + name);
        message(BoxKind::Error,
                QStringLiteral("Cannot read this video file (no playable stream?):\r\n") + Fn,
                BoxButtons::Ok);
        return;
    }

    FInFile = Fn;
    FPreview.setVideo(Fn);
    TrackBar1->setMaximum(FDuration);
    TrackBar1->setValue(0);
    LblTime->setText(QStringLiteral("00:00 / %1").arg(FormatTime(FDuration)));
    SetStatus(QStringLiteral("Loaded %1 (duration %2)").arg(name, FormatTime(FDuration)));
    EdtOut->setText(DefaultClipOutput(Fn));
    FPreview.GrabFrame(0);
    SetEditingEnabled(true);
}

void TClipForm::BtnOutClick() {
    const QString dir =
        FDialogs.pickFolder(this, QStringLiteral("Select output directory"), QString());
    if (dir.isEmpty())
        return;
    EdtOut->setText(EditedClipOutput(dir, FInFile));
}

void TClipForm::TrackBarChange() {
    if (FInFile.isEmpty())
        return;
    LblTime->setText(
        QStringLiteral("%1 / %2").arg(FormatTime(TrackBar1->value()), FormatTime(FDuration)));
    if (FSyncing)
        return;
    if (FPlaying) {
        if (FVLC && FVLC->IsOpen())
            FVLC->SetTime(static_cast<std::int64_t>(TrackBar1->value()) * 1000);
    } else {
        FPreview.arm();
    }
}

void TClipForm::BtnPlayClick() {
    if (FInFile.isEmpty()) {
        message(BoxKind::Warning, QStringLiteral("Please open a video first"), BoxButtons::Ok);
        return;
    }
    if (!FVLC) {
        FVLC = std::make_unique<TVLCPlayer>(FLibCandidates);
        if (!FVLC->Load()) {
            message(BoxKind::Error,
                    QStringLiteral("VLC runtime (libvlc.dll) not found. Please install VLC."),
                    BoxButtons::Ok);
            return;
        }
    }
    if (FPlaying) {
        // libVLC takes the new state over asynchronously, so the label follows the state the
        // toggle asked for rather than a query made at once.
        const bool wasPlaying = FVLC->IsPlaying();
        FVLC->Toggle();
        BtnPlay->setText(wasPlaying ? QStringLiteral("Play") : QStringLiteral("Stop"));
        return;
    }
    if (!FVLC->IsOpen()) {
        PanelPreview->show();
        if (!FVLC->Open(PanelPreview->winId(), FInFile)) {
            PanelPreview->hide();
            message(BoxKind::Error, QStringLiteral("Failed to open video in VLC player"),
                    BoxButtons::Ok);
            return;
        }
    }
    const int pos = TrackBar1->value();
    // libVLC ignores a seek until playback has begun, so the seek follows the start.
    FVLC->Play();
    FVLC->SetTime(pos < FDuration ? static_cast<std::int64_t>(pos) * 1000 : 0);
    FPlaying = true;
    BtnPlay->setText(QStringLiteral("Stop"));
    FTimerPlay.start();
}

void TClipForm::PlayTick() {
    if (!FPlaying || !FVLC || !FVLC->IsOpen())
        return;
    const std::int64_t length = FVLC->GetLength();
    if (length <= 0)
        return;
    const std::int64_t t = FVLC->GetTime();
    FSyncing = true;
    TrackBar1->setValue(static_cast<int>(t / 1000));
    FSyncing = false;
    LblTime->setText(QStringLiteral("%1 / %2").arg(FormatTime(static_cast<std::int32_t>(t / 1000)),
                                                   FormatTime(FDuration)));
    if (!FVLC->IsPlaying() && t >= length - 800)
        StopPlayback();
}

void TClipForm::StopPlayback() {
    FTimerPlay.stop();
    FPlaying = false;
    BtnPlay->setText(QStringLiteral("Play"));
    PanelPreview->hide();
    if (FVLC) {
        // Detaching alone would leave the old video playing, heard but not seen.
        if (FVLC->IsOpen())
            FVLC->Stop();
        FVLC->Reset();
    }
}

void TClipForm::BtnStartClick() {
    if (FInFile.isEmpty())
        return;
    SetStatus(FSegments.markStart(TrackBar1->value()));
}

void TClipForm::BtnEndClick() {
    if (FInFile.isEmpty())
        return;
    SetStatus(FSegments.markEnd(TrackBar1->value()));
}

void TClipForm::BtnDelClick() {
    const QModelIndexList rows = LvSegs->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    const QString text = FSegments.removeSegment(rows.first().row());
    if (!text.isEmpty())
        SetStatus(text);
}

void TClipForm::BtnClearClick() {
    SetStatus(FSegments.clearAll());
}

void TClipForm::BtnExportClick() {
    ExportRequest req;
    req.inFile = FInFile;
    req.outText = EdtOut->text();
    req.cropText = EdtCrop->text();
    req.rows = FSegments.segments();
    req.duration = FDuration;
    ExportClip(req, *this, FEnv);
}

void TClipForm::FormClose() {
    StopPlayback();
    FPreview.disarm();
    FVLC.reset();
}

void TClipForm::done(int ACode) {
    FormClose();
    QDialog::done(ACode);
}

} // namespace halvora
