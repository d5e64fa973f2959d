#include "ClipForm.h"

#include "InputItems.h"
#include "VLCPlayer.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

namespace halvora {

namespace {

constexpr int kClientWidth = 857;
constexpr int kClientHeight = 876;
constexpr int kPanel1Height = 426;
// The preview panel is anchored on all sides: these are its distances to the right and bottom
// edges of the client area at the designed size.
constexpr int kPreviewRightGap = kClientWidth - (8 + 801);
constexpr int kPreviewBottomGap = kClientHeight - (46 + 364);

} // namespace

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

TKeyframeTicks::TKeyframeTicks(QSlider* ATrack, QWidget* AParent)
    : QWidget(AParent), FTrack(ATrack) {}

void TKeyframeTicks::SetTicks(const QVector<double>& ASeconds) {
    FSeconds = ASeconds;
    update();
}

QVector<int> TKeyframeTicks::TickPositions() const {
    QVector<int> out;
    const int max = FTrack->maximum();
    if (max <= FTrack->minimum())
        return out;
    QStyleOptionSlider opt;
    opt.initFrom(FTrack);
    opt.orientation = FTrack->orientation();
    opt.minimum = FTrack->minimum();
    opt.maximum = max;
    opt.sliderPosition = FTrack->value();
    opt.sliderValue = FTrack->value();
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    QStyle* st = FTrack->style();
    const QRect groove =
        st->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, FTrack);
    const QRect handle =
        st->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, FTrack);
    const double span = groove.width() - handle.width();
    const int offset = FTrack->x() - x();
    for (double sec : FSeconds) {
        if (sec < 0 || sec > max)
            continue;
        out << offset + groove.x() + handle.width() / 2 + static_cast<int>(sec / max * span + 0.5);
    }
    return out;
}

void TKeyframeTicks::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    for (int x : TickPositions())
        p.drawLine(x, 0, x, height() - 1);
}

TClipForm::TClipForm(DialogService& ADialogs, QWidget* AOwner)
    : QDialog(AOwner), FDialogs(ADialogs), FEditor(*this) {
    BuildLayout();
    connect(&FEditor.Preview(), &FramePreview::imageChanged, ImgPreview, &TPictureBox::SetImage);
    SetEditingEnabled(false);
}

TClipForm::~TClipForm() {
    FEditor.FormClose();
}

void TClipForm::SetLibVlcCandidates(const QStringList& ACandidates) {
    FEditor.SetPlayerFactory([ACandidates] { return std::make_unique<TVLCPlayer>(ACandidates); });
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
    KeyframeTicks = named(new TKeyframeTicks(TrackBar1, Panel1), "KeyframeTicks");
    KeyframeTicks->setGeometry(1, 30, 519, 5);
    KeyframeTicks->setToolTip(QStringLiteral("Keyframes: copies start here without re-encoding"));
    LblTime = label(Panel1, "LblTime", QStringLiteral("00:00 / 00:00"), {541, 11}, 150);
    BtnStart = button(Panel1, "BtnStart", QStringLiteral("Mark start"), {26, 36, 100, 30});
    BtnEnd = button(Panel1, "BtnEnd", QStringLiteral("Mark end"), {174, 36, 100, 30});
    BtnDel = button(Panel1, "BtnDel", QStringLiteral("Remove marks"), {298, 36, 110, 30});
    BtnClear = button(Panel1, "BtnClear", QStringLiteral("Clear"), {424, 36, 80, 30});
    BtnPlay = button(Panel1, "BtnPlay", QStringLiteral("Play"), {526, 36, 80, 30});

    LvSegs = named(new QTreeView(Panel1), "LvSegs");
    LvSegs->setGeometry(11, 72, 612, 149);
    LvSegs->setModel(&FEditor.Segments());
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
    BtnStop = button(Panel1, "BtnStop", QStringLiteral("Stop"), {541, 303, 100, 28});
    BtnStop->setEnabled(false);
    LblVideoSize = label(Panel1, "LblVideoSize", QStringLiteral("Video: -"), {10, 351}, 170);
    LblAudio = label(Panel1, "LblAudio", QStringLiteral("Audio: -"), {10, 369}, 600);
    LblCrop = label(Panel1, "LblCrop", QStringLiteral("Crop (optional)"), {187, 351}, 85);
    EdtCrop = named(new QLineEdit(Panel1), "EdtCrop");
    // Stock Linux fonts are wider than the layout's: keep the field clear of its label.
    EdtCrop->setGeometry(std::max(274, LblCrop->geometry().right() + 6), 343, 108, 23);
    EdtCrop->setToolTip(QStringLiteral("W:H:x:y e.g. 1280:720:0:0 (crop requires re-encode)"));
    LblStatus = label(Panel1, "LblStatus", QStringLiteral("Ready - open MP4 to start clipping"),
                      {10, 392}, kClientWidth - 20);

    FEditor.Preview().timer().setObjectName(QStringLiteral("FTimer"));
    FEditor.PlayTimer().setObjectName(QStringLiteral("FTimerPlay"));

    ClipEditor* e = &FEditor;
    connect(BtnOpen, &QPushButton::clicked, e, &ClipEditor::BtnOpenClick);
    connect(BtnOut, &QPushButton::clicked, e, &ClipEditor::BtnOutClick);
    connect(BtnPlay, &QPushButton::clicked, e, &ClipEditor::BtnPlayClick);
    connect(BtnStart, &QPushButton::clicked, e, &ClipEditor::BtnStartClick);
    connect(BtnEnd, &QPushButton::clicked, e, &ClipEditor::BtnEndClick);
    connect(BtnDel, &QPushButton::clicked, e, &ClipEditor::BtnDelClick);
    connect(BtnClear, &QPushButton::clicked, e, &ClipEditor::BtnClearClick);
    connect(BtnExport, &QPushButton::clicked, e, &ClipEditor::BtnExportClick);
    connect(TrackBar1, &QSlider::valueChanged, e, &ClipEditor::TrackBarChange);
    connect(BtnStop, &QPushButton::clicked, e, &ClipEditor::StopWork);
    connect(e, &ClipEditor::loadFinished, this, [this] {
        if (!FLoadNote.isEmpty())
            setStatus(LblStatus->text() + QStringLiteral(" - ") + FLoadNote);
        FLoadNote.clear();
    });
    connect(e, &ClipEditor::exportFinished, this, [this] {
        if (FCloseAfterExport) {
            FCloseAfterExport = false;
            done(QDialog::Rejected);
        }
    });

    QWidget* order[] = {EdtClip, BtnOpen, TrackBar1, BtnStart,  BtnEnd, BtnDel, BtnClear,
                        BtnPlay, LvSegs,  EdtOut,    BtnExport, BtnOut, EdtCrop};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    // A video file dropped anywhere on the window opens as through Open MP4.
    setAcceptDrops(true);
    for (QLineEdit* edit : {EdtClip, EdtOut, EdtCrop})
        edit->setAcceptDrops(false);
    BtnOpen->setFocus();

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

void TClipForm::keyPressEvent(QKeyEvent* AEvent) {
    // Only the close button closes the window: a stray Escape must not throw the marked
    // segments away. During an export or an opening it is Stop.
    if (AEvent->matches(QKeySequence::Cancel)) {
        FEditor.StopWork();
        AEvent->accept();
        return;
    }
    QDialog::keyPressEvent(AEvent);
}

void TClipForm::dragEnterEvent(QDragEnterEvent* AEvent) {
    if (ChooseInput(MimeItems(*AEvent->mimeData()), InputTarget::ClipWindow).action ==
        InputAction::OpenClip)
        AEvent->acceptProposedAction();
}

void TClipForm::dropEvent(QDropEvent* AEvent) {
    const InputChoice choice = ChooseInput(MimeItems(*AEvent->mimeData()), InputTarget::ClipWindow);
    if (choice.action != InputAction::OpenClip)
        return;
    AEvent->acceptProposedAction();
    // Opened once the drop has finished: loading runs ffmpeg and may show a message box.
    const QString file = choice.text;
    const int ignored = choice.ignored;
    QTimer::singleShot(0, this, [this, file, ignored] {
        // Said once the video has loaded, after what the load itself says.
        FLoadNote = IgnoredItemsText(ignored);
        FEditor.OpenChosenFile(file);
    });
}

void TClipForm::setStatus(const QString& AText) {
    LblStatus->setText(AText);
}

BoxAnswer TClipForm::message(BoxKind AKind, const QString& AText, BoxButtons AButtons) {
    return FDialogs.message(this, AKind, QStringLiteral("Halvora"), AText, AButtons);
}

void TClipForm::processMessages() {
    QCoreApplication::processEvents();
}

QString TClipForm::openFile(const QString& ATitle, const QString& AFilter) {
    return FDialogs.openFile(this, ATitle, QString(), AFilter);
}

QString TClipForm::pickFolder(const QString& ATitle) {
    return FDialogs.pickFolder(this, ATitle, QString());
}

void TClipForm::setFileText(const QString& AText) {
    EdtClip->setText(AText);
}
int TClipForm::trackPosition() {
    return TrackBar1->value();
}
void TClipForm::setTrackMaximum(int AMax) {
    TrackBar1->setMaximum(AMax);
    KeyframeTicks->update();
}
void TClipForm::setTrackPosition(int APos) {
    TrackBar1->setValue(APos);
}
void TClipForm::setTimeText(const QString& AText) {
    LblTime->setText(AText);
}
void TClipForm::setVideoSizeText(const QString& AText) {
    LblVideoSize->setText(AText);
}
void TClipForm::setAudioTracksText(const QString& AText) {
    LblAudio->setText(AText);
    LblAudio->setToolTip(AText);
}
QString TClipForm::outputText() {
    return EdtOut->text();
}
void TClipForm::setOutputText(const QString& AText) {
    EdtOut->setText(AText);
}
QString TClipForm::cropText() {
    return EdtCrop->text();
}
void TClipForm::setPlayText(const QString& AText) {
    BtnPlay->setText(AText);
}
void TClipForm::setKeyframeTicks(const QVector<double>& ASeconds) {
    KeyframeTicks->SetTicks(ASeconds);
}
void TClipForm::setPreviewVisible(bool AVisible) {
    PanelPreview->setVisible(AVisible);
}
quintptr TClipForm::previewWindow() {
    return PanelPreview->winId();
}

int TClipForm::selectedSegment() {
    const QModelIndexList rows = LvSegs->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TClipForm::SetEditingEnabled(bool On) {
    for (QWidget* w :
         std::initializer_list<QWidget*>{BtnStart, BtnEnd, BtnDel, BtnClear, BtnPlay, BtnExport,
                                         BtnOut, TrackBar1, EdtOut, EdtCrop, LvSegs})
        w->setEnabled(On);
}

void TClipForm::setExporting(bool AOn) {
    BtnOpen->setEnabled(!AOn);
    EdtClip->setEnabled(!AOn);
    SetEditingEnabled(!AOn && !FEditor.InFile().isEmpty());
    BtnStop->setEnabled(AOn);
}

void TClipForm::setLoading(bool AOn) {
    BtnStop->setEnabled(AOn || FEditor.Exporting());
}

void TClipForm::done(int ACode) {
    if (FEditor.Exporting()) {
        if (FCloseAfterExport)
            return; // already stopping
        const BoxAnswer answer = FDialogs.message(
            this, BoxKind::Confirmation, QStringLiteral("Halvora"),
            QStringLiteral("A conversion is running. Stop it and close?"), BoxButtons::YesNo);
        if (answer != BoxAnswer::Yes)
            return;
        if (FEditor.Exporting()) {
            // Closes once the export has ended.
            FCloseAfterExport = true;
            FEditor.StopExport();
            return;
        }
    }
    FEditor.FormClose();
    QDialog::done(ACode);
}

} // namespace halvora
