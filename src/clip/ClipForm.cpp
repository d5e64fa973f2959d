#include "ClipForm.h"

#include "ClipKeys.h"
#include "DesignRows.h"
#include "InputItems.h"
#include "VLCPlayer.h"

#include <QApplication>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace halvora {

namespace {

constexpr int kClientWidth = 857;
constexpr int kClientHeight = 876;
constexpr int kPanel1Height = 426;

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
    FEditor.WindowClosing();
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
    auto button = [&](QWidget* AParent, const char* AName, const QString& AText) {
        auto* b = named(new QPushButton(AText, AParent), AName);
        b->setAutoDefault(false);
        return b;
    };
    auto label = [&](QWidget* AParent, const char* AName, const QString& AText) {
        return named(new QLabel(AText, AParent), AName);
    };

    EdtClip = named(new QLineEdit(this), "EdtClip");
    BtnOpen = button(this, "BtnOpen", QStringLiteral("Open MP4..."));

    PanelPreview = named(new QWidget(this), "PanelPreview");
    // libVLC draws into this panel's own X11 window.
    PanelPreview->setAttribute(Qt::WA_NativeWindow);
    PanelPreview->setAutoFillBackground(true);
    QPalette pal = PanelPreview->palette();
    pal.setColor(QPalette::Window, Qt::black);
    PanelPreview->setPalette(pal);
    // Hidden until a video is open, it keeps its room meanwhile.
    QSizePolicy previewPolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    previewPolicy.setRetainSizeWhenHidden(true);
    PanelPreview->setSizePolicy(previewPolicy);
    ImgPreview = named(new TPictureBox(PanelPreview), "ImgPreview");
    PanelPreview->installEventFilter(this);
    PanelPreview->hide();

    Panel1 = named(new QWidget(this), "Panel1");

    TrackBar1 = named(new QSlider(Qt::Horizontal, Panel1), "TrackBar1");
    TrackBar1->setRange(0, 0);
    TrackBar1->setSingleStep(1);
    KeyframeTicks = named(new TKeyframeTicks(TrackBar1, Panel1), "KeyframeTicks");
    KeyframeTicks->setToolTip(QStringLiteral("Keyframes: copies start here without re-encoding"));
    LblTime = label(Panel1, "LblTime", QStringLiteral("00:00 / 00:00"));
    EdtTime = named(new QLineEdit(Panel1), "EdtTime");
    EdtTime->setText(QStringLiteral("00:00:00.000"));
    EdtTime->setToolTip(QStringLiteral("Position (hh:mm:ss.mmm): type a time and press Enter"));
    BtnUndo = button(Panel1, "BtnUndo", QStringLiteral("Undo"));
    BtnRedo = button(Panel1, "BtnRedo", QStringLiteral("Redo"));
    BtnKeys = button(Panel1, "BtnKeys", QStringLiteral("Keys"));
    BtnExportList = button(Panel1, "BtnExportList", QStringLiteral("Export list..."));
    BtnStart = button(Panel1, "BtnStart", QStringLiteral("Mark start"));
    BtnEnd = button(Panel1, "BtnEnd", QStringLiteral("Mark end"));
    BtnDel = button(Panel1, "BtnDel", QStringLiteral("Remove marks"));
    BtnClear = button(Panel1, "BtnClear", QStringLiteral("Clear"));
    BtnPlay = button(Panel1, "BtnPlay", QStringLiteral("Play"));

    LvSegs = named(new QTreeView(Panel1), "LvSegs");
    LvSegs->setModel(&FEditor.Segments());
    LvSegs->setRootIsDecorated(false);
    LvSegs->setItemsExpandable(false);
    LvSegs->setUniformRowHeights(true);
    // The times are edited in place: F2 or a double-click.
    LvSegs->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    LvSegs->setContextMenuPolicy(Qt::CustomContextMenu);
    LvSegs->setSelectionMode(QAbstractItemView::SingleSelection);
    LvSegs->setSelectionBehavior(QAbstractItemView::SelectRows);
    LvSegs->header()->setStretchLastSection(false);
    LvSegs->setColumnWidth(0, 380);
    LvSegs->setColumnWidth(1, 100);

    EdtOut = named(new QLineEdit(Panel1), "EdtOut");
    BtnOut = button(Panel1, "BtnOut", QStringLiteral("Output dir..."));
    BtnExport = button(Panel1, "BtnExport",
                       QStringLiteral("Export (stitch everything except deleted segments)"));
    ChkParts =
        named(new QCheckBox(QStringLiteral("Export each kept stretch as its own file"), Panel1),
              "ChkParts");
    BtnStop = button(Panel1, "BtnStop", QStringLiteral("Stop"));
    BtnStop->setEnabled(false);
    LblVideoSize = label(Panel1, "LblVideoSize", QStringLiteral("Video: -"));
    LblAudio = label(Panel1, "LblAudio", QStringLiteral("Audio: -"));
    LblCrop = label(Panel1, "LblCrop", QStringLiteral("Crop (optional)"));
    EdtCrop = named(new QLineEdit(Panel1), "EdtCrop");
    EdtCrop->setToolTip(QStringLiteral("W:H:x:y e.g. 1280:720:0:0 (crop requires re-encode)"));
    LblStatus = label(Panel1, "LblStatus", QStringLiteral("Ready - open MP4 to start clipping"));
    // Long texts never widen the window; the audio list has its full text as a tool tip.
    for (QLabel* l : {LblAudio, LblStatus})
        l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    // The picture and the segment list share any extra height in their designed proportion
    // (a box layout shares by stretch out of the whole); the file fields, the time line and the
    // wide buttons take the extra width.
    DesignRows window(this, {kClientWidth, kClientHeight});
    window.Row(13, 28);
    window.Add(EdtClip, 8, 537, 1, 4, 23);
    window.Add(BtnOpen, 565, 100, 0, 0, 28);
    window.Row(46, 364, 364);
    window.Add(PanelPreview, 8, 801, 1);
    window.Row(kClientHeight - kPanel1Height, kPanel1Height, kPanel1Height);
    window.Add(Panel1, 0, kClientWidth, 1);
    window.Finish();

    DesignRows panel(Panel1, {kClientWidth, kPanel1Height});
    panel.Row(0, 35);
    // The keyframe ticks stay as wide as the time line they mark.
    auto* timeLine = new QVBoxLayout;
    timeLine->setSpacing(0);
    TrackBar1->setMinimumHeight(30);
    KeyframeTicks->setFixedHeight(5);
    timeLine->addWidget(TrackBar1);
    timeLine->addWidget(KeyframeTicks);
    TrackBar1->setMinimumWidth(519);
    panel.Add(timeLine, 1, 519, 1);
    panel.Add(LblTime, 541, 150, 0, 11);
    panel.Add(EdtTime, 700, 110, 0, 4, 23);
    panel.Row(36, 30);
    panel.Add(BtnStart, 26, 100, 0, 0, 30);
    panel.Add(BtnEnd, 174, 100, 0, 0, 30);
    panel.Add(BtnDel, 298, 110, 0, 0, 30);
    panel.Add(BtnClear, 424, 80, 0, 0, 30);
    panel.Add(BtnPlay, 526, 80, 0, 0, 30);
    panel.Add(BtnUndo, 620, 80, 0, 0, 30);
    panel.Add(BtnRedo, 710, 80, 0, 0, 30);
    panel.Row(72, 149, 1);
    panel.Add(LvSegs, 11, 612, 1);
    panel.Row(227, 28);
    panel.Add(EdtOut, 11, 500, 1, 0, 23);
    panel.Add(BtnOut, 541, 100, 0, 0, 28);
    panel.Row(261, 36);
    panel.Add(BtnExport, 11, 630, 1, 0, 36);
    panel.Row(303, 28);
    panel.Add(ChkParts, 11, 300, 0, 4);
    panel.Add(BtnExportList, 320, 110, 0, 0, 28);
    panel.Add(BtnKeys, 440, 80, 0, 0, 28);
    panel.Spring();
    panel.Add(BtnStop, 541, 100, 0, 0, 28);
    panel.Row(343, 26);
    panel.Add(LblVideoSize, 10, 170, 0, 8);
    // Stock Linux fonts are wider than the layout's: keep the field clear of its label.
    const int cropLabel = std::max(85, LblCrop->sizeHint().width());
    panel.Add(LblCrop, 187, cropLabel, 0, 8);
    const int cropLeft = std::max(274, 187 + cropLabel + 5);
    panel.Add(EdtCrop, cropLeft, 108, 0, 0, 23);
    panel.Row(369, 23);
    panel.Add(LblAudio, 10, 600, 1);
    panel.Row(392, kPanel1Height - 392);
    panel.Add(LblStatus, 10, kClientWidth - 20, 1);
    panel.Finish();

    FEditor.Preview().timer().setObjectName(QStringLiteral("FTimer"));
    FEditor.PlayTimer().setObjectName(QStringLiteral("FTimerPlay"));

    ClipEditor* e = &FEditor;
    connect(BtnOpen, &QPushButton::clicked, e, &ClipEditor::ChooseAndOpen);
    connect(BtnOut, &QPushButton::clicked, e, &ClipEditor::ChooseOutputFolder);
    connect(BtnPlay, &QPushButton::clicked, e, &ClipEditor::TogglePlayback);
    connect(BtnStart, &QPushButton::clicked, e, &ClipEditor::MarkStart);
    connect(BtnEnd, &QPushButton::clicked, e, &ClipEditor::MarkEnd);
    connect(BtnDel, &QPushButton::clicked, e, &ClipEditor::RemoveMarks);
    connect(BtnClear, &QPushButton::clicked, e, &ClipEditor::ClearSegments);
    connect(BtnExport, &QPushButton::clicked, e, &ClipEditor::StartExport);
    connect(TrackBar1, &QSlider::valueChanged, e, &ClipEditor::PositionChanged);
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

    BuildEditing();
    QWidget* order[] = {EdtClip,   BtnOpen,  TrackBar1,     EdtTime, BtnStart, BtnEnd, BtnDel,
                        BtnClear,  BtnPlay,  BtnKeys,       BtnUndo, BtnRedo,  LvSegs, EdtOut,
                        BtnExport, ChkParts, BtnExportList, BtnOut,  EdtCrop};
    for (size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);

    // A video file dropped anywhere on the window opens as through Open MP4.
    setAcceptDrops(true);
    for (QLineEdit* edit : {EdtClip, EdtOut, EdtCrop})
        edit->setAcceptDrops(false);
    BtnOpen->setFocus();

    resize(kClientWidth, kClientHeight);
    // No smaller: the layout's minimum is the designed size, more when a larger font needs it.
    // Where it was designed to appear, moved back onto the screen when that doesn't fit.
    QPoint pos(829, 0);
    if (const QScreen* scr = QGuiApplication::primaryScreen()) {
        const QRect avail = scr->availableGeometry();
        pos.setX(std::max(avail.left(), std::min(pos.x(), avail.right() + 1 - kClientWidth)));
        pos.setY(std::max(avail.top(), std::min(pos.y(), avail.bottom() + 1 - kClientHeight)));
    }
    move(pos);
}

void TClipForm::BuildEditing() {
    ClipEditor* e = &FEditor;
    connect(EdtTime, &QLineEdit::returnPressed, this,
            [this] { FEditor.SeekToText(EdtTime->text()); });
    connect(BtnUndo, &QPushButton::clicked, e, &ClipEditor::Undo);
    connect(BtnRedo, &QPushButton::clicked, e, &ClipEditor::Redo);
    connect(BtnKeys, &QPushButton::clicked, this, &TClipForm::BtnKeysClick);
    connect(BtnExportList, &QPushButton::clicked, e, &ClipEditor::ExportListCsv);
    connect(LvSegs, &QWidget::customContextMenuRequested, this, &TClipForm::LvSegsContextMenu);
    auto follow = [this] {
        BtnUndo->setEnabled(BtnStart->isEnabled() && FEditor.Segments().canUndo());
        BtnRedo->setEnabled(BtnStart->isEnabled() && FEditor.Segments().canRedo());
    };
    connect(&FEditor.Segments(), &SegmentModel::segmentsChanged, this, follow);
    // The picture takes the time line's keys once clicked.
    for (QWidget* w : {static_cast<QWidget*>(ImgPreview), PanelPreview}) {
        w->setFocusPolicy(Qt::ClickFocus);
        w->installEventFilter(this);
    }
    TrackBar1->installEventFilter(this);
    ConnectKeys();
}

void TClipForm::ConnectKeys() {
    // Window-wide keys: a focused text field takes its own keys (letters, Delete, Ctrl+Z) before
    // any of these, as Qt lets it override shortcuts.
    auto key = [this](const QKeySequence& AKeys, auto AAction) {
        auto* s = new QShortcut(AKeys, this);
        connect(s, &QShortcut::activated, this, AAction);
    };
    ClipEditor* e = &FEditor;
    key(QKeySequence(Qt::Key_Comma), [e] { e->StepFrames(-1); });
    key(QKeySequence(Qt::Key_Period), [e] { e->StepFrames(1); });
    key(QKeySequence(Qt::Key_I), [this] {
        if (BtnStart->isEnabled())
            FEditor.MarkStart();
    });
    key(QKeySequence(Qt::Key_O), [this] {
        if (BtnEnd->isEnabled())
            FEditor.MarkEnd();
    });
    key(QKeySequence(Qt::Key_Delete), [this] {
        if (BtnDel->isEnabled())
            FEditor.RemoveMarks();
    });
    for (const QKeySequence& k : {QKeySequence(QKeySequence::Undo)})
        key(k, [this] {
            if (BtnStart->isEnabled())
                FEditor.Undo();
        });
    for (const QKeySequence& k :
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)})
        key(k, [this] {
            if (BtnStart->isEnabled())
                FEditor.Redo();
        });
    key(QKeySequence(Qt::Key_Question), [this] { BtnKeysClick(); });
}

bool TClipForm::TimeLineKey(QKeyEvent* AEvent, bool AOnPicture) {
    const Qt::KeyboardModifiers mods = AEvent->modifiers() & ~Qt::KeypadModifier;
    const int key = AEvent->key();
    const bool left = key == Qt::Key_Left;
    if ((left || key == Qt::Key_Right) && mods != Qt::NoModifier) {
        if (mods == Qt::ShiftModifier)
            FEditor.StepSeconds(left ? -10 : 10);
        else if (mods == Qt::ControlModifier)
            FEditor.JumpKeyframe(left ? -1 : 1);
        else
            return false;
        return true;
    }
    if (mods != Qt::NoModifier)
        return false;
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        // The time line steps by its own whole seconds; the picture does the same.
        if (!AOnPicture)
            return false;
        FEditor.StepSeconds(left ? -1 : 1);
        return true;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        FEditor.StepSeconds(key == Qt::Key_PageUp ? 10 : -10);
        return true;
    case Qt::Key_Home:
        FEditor.GoToStart();
        return true;
    case Qt::Key_End:
        FEditor.GoToEnd();
        return true;
    case Qt::Key_Space:
        FEditor.TogglePlayback();
        return true;
    default:
        return false;
    }
}

void TClipForm::LvSegsContextMenu(const QPoint& APos) {
    QMenu menu(this);
    menu.addAction(QStringLiteral("Undo"), &FEditor, &ClipEditor::Undo)
        ->setEnabled(FEditor.Segments().canUndo());
    menu.addAction(QStringLiteral("Redo"), &FEditor, &ClipEditor::Redo)
        ->setEnabled(FEditor.Segments().canRedo());
    menu.addSeparator();
    menu.addAction(QStringLiteral("Remove marks"), &FEditor, &ClipEditor::RemoveMarks)
        ->setEnabled(selectedSegment() >= 0);
    menu.exec(LvSegs->viewport()->mapToGlobal(APos));
}

void TClipForm::BtnKeysClick() {
    FDialogs.message(this, BoxKind::Information, QStringLiteral("Halvora"),
                     QStringLiteral("Keys of the clip editor:\r\n\r\n") + ClipKeysText(),
                     BoxButtons::Ok);
}

bool TClipForm::eventFilter(QObject* AWatched, QEvent* AEvent) {
    if (AEvent->type() == QEvent::KeyPress && !FEditor.InFile().isEmpty() &&
        BtnStart->isEnabled() &&
        (AWatched == TrackBar1 || AWatched == ImgPreview || AWatched == PanelPreview) &&
        TimeLineKey(static_cast<QKeyEvent*>(AEvent), AWatched != TrackBar1))
        return true;
    // The still picture covers the whole preview; also set while the preview is hidden, when
    // its resize events wait for it to show.
    if (AWatched == PanelPreview && AEvent->type() == QEvent::Resize)
        ImgPreview->setGeometry(PanelPreview->rect());
    return QDialog::eventFilter(AWatched, AEvent);
}

void TClipForm::resizeEvent(QResizeEvent* AEvent) {
    QDialog::resizeEvent(AEvent);
    // The layout has placed the preview by now.
    ImgPreview->setGeometry(PanelPreview->rect());
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

QString TClipForm::openFile(const QString& ATitle, const QString& AFilter) {
    return FDialogs.openFile(this, ATitle, QString(), AFilter);
}

QString TClipForm::saveFile(const QString& ATitle, const QString& AStart, const QString& AFilter) {
    return FDialogs.saveFile(this, ATitle, AStart, AFilter);
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
void TClipForm::setClockText(const QString& AText) {
    EdtTime->setText(AText);
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
bool TClipForm::separateFiles() {
    return ChkParts->isChecked();
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
                                         BtnOut, TrackBar1, EdtOut, EdtCrop, LvSegs, EdtTime})
        w->setEnabled(On);
    BtnExportList->setEnabled(On);
    ChkParts->setEnabled(On);
    BtnUndo->setEnabled(On && FEditor.Segments().canUndo());
    BtnRedo->setEnabled(On && FEditor.Segments().canRedo());
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
    FEditor.WindowClosing();
    QDialog::done(ACode);
}

} // namespace halvora
