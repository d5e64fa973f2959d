#include "Umain.h"

#include "HeadersDialog.h"

#include "AppPaths.h"
#include "ClipForm.h"
#include "DesignRows.h"
#include "FFmpegLocator.h"
#include "Links.h"
#include "TFormFeedback.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

static void InitHalvoraResources() {
    Q_INIT_RESOURCE(halvora);
}

namespace halvora {

namespace {

template <typename T> T* Make(QWidget* AParent, const char* AName) {
    T* w = new T(AParent);
    w->setObjectName(QLatin1String(AName));
    return w;
}

QFrame* MakePanel(QWidget* AParent, const char* AName, const QColor& AColour) {
    QFrame* p = Make<QFrame>(AParent, AName);
    p->setFrameShape(QFrame::Box);
    p->setFrameShadow(QFrame::Plain);
    p->setLineWidth(1);
    p->setAutoFillBackground(true);
    QPalette pal = p->palette();
    pal.setColor(QPalette::Window, AColour);
    p->setPalette(pal);
    return p;
}

QString BoxTitle(BoxKind AKind) {
    switch (AKind) {
    case BoxKind::Warning:
        return QStringLiteral("Warning");
    case BoxKind::Error:
        return QStringLiteral("Error");
    case BoxKind::Information:
        return QStringLiteral("Information");
    case BoxKind::Confirmation:
        return QStringLiteral("Confirm");
    }
    return {};
}

} // namespace

bool ApplySkyStyle() {
    InitHalvoraResources();
    QFile f(QStringLiteral(":/styles/Sky.qss"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    qApp->setStyleSheet(QString::fromUtf8(f.readAll()));
    return true;
}

TForm2::TForm2(DialogService& ADialogs, QWidget* AParent, ProcessRunner ARunner,
               FFmpegFinder AFinder)
    : QWidget(AParent), FDialogs(ADialogs),
      FFinder(AFinder ? AFinder : FFmpegFinder([] { return FindFFmpeg(); })),
      FWorkerView(*this, FJob.gate()), FFlow(FWorkerView, std::move(ARunner), FFinder),
      FBootstrap(bootstrapWindow()) {
    InitHalvoraResources();
    setObjectName(QStringLiteral("TForm2"));
    setWindowTitle(QStringLiteral("Halvora"));
    QFont f = font();
    f.setPointSize(9);
    setFont(f);
    createControls();
}

TForm2::~TForm2() {
    // Nothing the worker hands over runs from now on, and a worker waiting for an answer is
    // released; it then stops at its next step.
    if (FJob.running())
        FFlow.RequestStop();
    FJob.stopAndWait();
    DoDestroy();
}

void TForm2::createControls() {
    resize(933, 722);
    // No smaller: the layout's minimum is the designed size, more when a larger font needs it.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        if (screen->availableGeometry().contains(QRect(685, 164, 933, 722)))
            move(685, 164);

    pnlSingle = MakePanel(this, "pnlSingle", QColor(0x00, 0x78, 0xd7));
    pnlBatch = MakePanel(this, "pnlBatch", QColor(0xa6, 0xca, 0xf0));
    Panel1 = MakePanel(this, "Panel1", QColor(0xff, 0x00, 0x00));
    Panel2 = MakePanel(this, "Panel2", QColor(0xff, 0x00, 0x00));

    BtnFeedback = Make<QPushButton>(Panel1, "BtnFeedback");
    BtnFeedback->setText(QStringLiteral("Feedback"));
    BtnClip = Make<QPushButton>(Panel2, "BtnClip");
    BtnClip->setText(QStringLiteral("Edit MP4"));
    LblStatus = Make<QLabel>(Panel1, "LblStatus");
    LblStatus->setText(QStringLiteral("Ready"));
    LblStatus->setWordWrap(true);
    LblStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LblStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long path wraps or is cut; it never widens the window.
    LblStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    BtnStop = Make<QPushButton>(Panel1, "BtnStop");
    BtnStop->setText(QStringLiteral("Stop"));
    BtnStop->setEnabled(false);

    createSingleControls();
    createBatchControls();
    layOutPanels();
    layOutBatchAndBottom();
    connectControls();
}

void TForm2::createSingleControls() {
    LblInput = Make<QLabel>(pnlSingle, "LblInput");
    LblInput->setText(QStringLiteral("M3U8 URL (local file path or http(s) link):"));
    EdtInput = Make<QLineEdit>(pnlSingle, "EdtInput");
    // The quality of a link's master playlist; local files and batches take the best.
    LblQuality = Make<QLabel>(pnlSingle, "LblQuality");
    LblQuality->setText(QStringLiteral("Quality:"));
    CmbQuality = Make<QComboBox>(pnlSingle, "CmbQuality");
    CmbQuality->addItem(QStringLiteral("Best"));
    CmbQuality->addItem(QStringLiteral("Smallest"));
    CmbQuality->setToolTip(QStringLiteral("Quality to download when the link lists several"));
    CmbQuality->setAccessibleName(QStringLiteral("Quality"));
    CmbQuality->setEnabled(false);
    LblQuality->setBuddy(CmbQuality);
    BtnHeaders = Make<QPushButton>(pnlSingle, "BtnHeaders");
    BtnHeaders->setText(QStringLiteral("Headers..."));
    BtnHeaders->setToolTip(QStringLiteral("Request headers and cookies sent with the link"));
    BtnBrowse = Make<QPushButton>(pnlSingle, "BtnBrowse");
    BtnBrowse->setText(QStringLiteral("Browse..."));
    BtnOutput = Make<QPushButton>(pnlSingle, "BtnOutput");
    BtnOutput->setText(QStringLiteral("Output dir..."));
    EdtOutput = Make<QLineEdit>(pnlSingle, "EdtOutput");
    ChkFast = Make<QCheckBox>(pnlSingle, "ChkFast");
    ChkFast->setText(QStringLiteral("Fast mode (stream copy, no re-encode, recommended)"));
    ChkFast->setChecked(true);
    BtnConvert = Make<QPushButton>(pnlSingle, "BtnConvert");
    BtnConvert->setText(QStringLiteral("Convert single"));
}

void TForm2::createBatchControls() {
    LblRoot = Make<QLabel>(pnlBatch, "LblRoot");
    LblRoot->setText(QStringLiteral("Root folder (batch scan all subfolders):"));
    // Placed inside the panel so that the version can be read.
    LblVersion = Make<QLabel>(pnlBatch, "LblVersion");
    LblVersion->setAlignment(Qt::AlignCenter);
    EdtRoot = Make<QLineEdit>(pnlBatch, "EdtRoot");
    BtnRoot = Make<QPushButton>(pnlBatch, "BtnRoot");
    BtnRoot->setText(QStringLiteral("Root..."));
    BtnBatch = Make<QPushButton>(pnlBatch, "BtnBatch");
    BtnBatch->setText(QStringLiteral("Batch Convert "));
    ProgressBar1 = Make<QProgressBar>(pnlBatch, "ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
}

void TForm2::layOutPanels() {
    // The panels keep their heights and widen with the window; the status panel takes any
    // extra height, the fields and the wide buttons any extra width.
    DesignRows window(this, {933, 722});
    window.Row(8, 225);
    window.Add(pnlSingle, 8, 917, 1, 0, 225);
    window.Row(256, 217);
    window.Add(pnlBatch, 8, 917, 1, 0, 217);
    window.Row(488, 89);
    window.Add(Panel2, 8, 917, 1, 0, 89);
    window.Row(587, 127, 1);
    window.Add(Panel1, 8, 913, 1);
    window.Finish();

    DesignRows single(pnlSingle, {917, 225});
    single.Row(16, 22);
    single.Add(LblInput, 12, 560, 1);
    single.Add(LblQuality, 580, 172);
    single.Row(38, 28);
    single.Add(EdtInput, 12, 560, 1, 0, 23);
    single.Add(CmbQuality, 580, 84, 0, 0, 23);
    single.Add(BtnHeaders, 668, 84, 0, 0, 23);
    single.Add(BtnBrowse, 760, 145, 0, 0, 28);
    single.Row(80, 28);
    single.Add(EdtOutput, 12, 740, 1, 0, 23);
    single.Add(BtnOutput, 760, 145, 0, 0, 28);
    single.Row(120, 24);
    single.Add(ChkFast, 12, 760, 1, 0, 24);
    single.Row(152, 40);
    single.Add(BtnConvert, 12, 893, 1, 0, 40);
    single.Finish();
}

void TForm2::layOutBatchAndBottom() {
    DesignRows batch(pnlBatch, {917, 217});
    batch.Row(16, 22);
    batch.Add(LblRoot, 12, 740, 1);
    batch.Row(38, 28);
    batch.Add(EdtRoot, 12, 740, 1, 0, 23);
    batch.Add(BtnRoot, 760, 145, 0, 0, 28);
    batch.Row(80, 40);
    batch.Add(BtnBatch, 12, 893, 1, 0, 40);
    batch.Row(140, 18);
    batch.Add(ProgressBar1, 12, 893, 1);
    ProgressBar1->setFixedHeight(18); // it shows no text, and the style would make it taller
    batch.Row(180, 20);
    batch.Add(LblVersion, 12, 893, 1, 0, 20);
    batch.Finish();

    DesignRows clip(Panel2, {917, 89});
    clip.Row(33, 32);
    clip.Spring();
    clip.Add(BtnClip, 760, 145, 0, 0, 32);
    clip.Finish();

    // Long paths wrap beside the buttons instead of running under them.
    DesignRows bottom(Panel1, {913, 127});
    bottom.Row(20, 100, 1);
    bottom.Add(LblStatus, 12, 740, 1);
    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(0);
    buttons->addSpacing(2);
    for (QPushButton* b : {BtnFeedback, BtnStop}) {
        DesignRows::KeepSize(b, 143, true, 28);
        buttons->addWidget(b);
        buttons->addSpacing(10);
    }
    buttons->addStretch(1);
    bottom.Add(buttons, 762, 143);
    bottom.Finish();
}

void TForm2::connectControls() {
    setTabOrder(EdtInput, CmbQuality);
    setTabOrder(CmbQuality, BtnHeaders);
    setTabOrder(BtnHeaders, BtnBrowse);
    setTabOrder(BtnBrowse, EdtOutput);
    setTabOrder(EdtOutput, BtnOutput);
    setTabOrder(BtnOutput, ChkFast);
    setTabOrder(ChkFast, BtnConvert);
    setTabOrder(BtnConvert, EdtRoot);
    setTabOrder(EdtRoot, BtnRoot);
    setTabOrder(BtnRoot, BtnBatch);
    setTabOrder(BtnBatch, BtnFeedback);
    setTabOrder(BtnFeedback, BtnClip);

    // Whatever is dropped, wherever, is the window's: the fields don't take the text of a drop.
    setAcceptDrops(true);
    for (QLineEdit* edit : {EdtInput, EdtOutput, EdtRoot})
        edit->setAcceptDrops(false);
    // A user can type or paste the input at once.
    EdtInput->setFocus();

    connect(EdtInput, &QLineEdit::textChanged, this, [this] { EdtInputChange(); });
    connect(&FQuality, &QualityReader::variantsChanged, this, [this] { FillQuality(); });
    EdtInput->installEventFilter(this);
    connect(BtnBrowse, &QPushButton::clicked, this, [this] { BtnBrowseClick(); });
    connect(BtnHeaders, &QPushButton::clicked, this, [this] { BtnHeadersClick(); });
    connect(BtnOutput, &QPushButton::clicked, this, [this] { BtnOutputClick(); });
    connect(BtnConvert, &QPushButton::clicked, this, [this] { BtnConvertClick(); });
    connect(BtnRoot, &QPushButton::clicked, this, [this] { BtnRootClick(); });
    connect(BtnBatch, &QPushButton::clicked, this, [this] { BtnBatchClick(); });
    connect(BtnClip, &QPushButton::clicked, this, [this] { BtnClipClick(); });
    connect(BtnFeedback, &QPushButton::clicked, this, [this] { BtnFeedbackClick(); });
    connect(BtnStop, &QPushButton::clicked, this, [this] { BtnStopClick(); });
}

void TForm2::showEvent(QShowEvent* AEvent) {
    QWidget::showEvent(AEvent);
    if (!FShown) {
        FShown = true;
        DoShow();
    }
}

void TForm2::closeEvent(QCloseEvent* AEvent) {
    if (FBusy) {
        AEvent->ignore();
        if (FCloseAfterJob)
            return; // already stopping
        const BoxAnswer answer = FDialogs.message(
            this, BoxKind::Confirmation, BoxTitle(BoxKind::Confirmation),
            QStringLiteral("A conversion is running. Stop it and close?"), BoxButtons::YesNo);
        if (answer != BoxAnswer::Yes)
            return;
        if (FBusy) {
            // The window closes once the job has ended; its boxes are no longer shown.
            FCloseAfterJob = true;
            FWorkerView.setQuiet(true);
            FFlow.RequestStop();
            setStatus(QStringLiteral("Stopping..."));
            return;
        }
        AEvent->accept(); // ended while the question was open
    }
    FClosed = true;
    QWidget::closeEvent(AEvent);
}

void TForm2::keyPressEvent(QKeyEvent* AEvent) {
    if (AEvent->key() == Qt::Key_Escape && FBusy) {
        BtnStopClick();
        return;
    }
    QWidget::keyPressEvent(AEvent);
}

void TForm2::StartJob(std::function<void()> AWork) {
    if (FBusy)
        return;
    FBusy = true;
    FFlow.ResetStop();
    FWorkerView.setQuiet(false);
    UpdateButtons();
    // The flow has its own stop: Stop reaches ffmpeg through it.
    FJob.start<bool>(
        [work = std::move(AWork)](const WorkerJob::Context&) {
            work();
            return true;
        },
        [this](bool) { JobDone(); });
}

void TForm2::JobDone() {
    FBusy = false;
    UpdateButtons();
    if (FCloseAfterJob) {
        FCloseAfterJob = false;
        close();
    }
}

void TForm2::BtnStopClick() {
    if (!FBusy)
        return;
    // The flow says how the job ended; a stop that comes after its last word changes nothing.
    FFlow.RequestStop();
}

void TForm2::DoShow() {
    if (Trimmed(EdtOutput->text()).isEmpty())
        EdtOutput->setText(DocumentsDir());
    connect(EdtRoot, &QLineEdit::textChanged, this, &TForm2::EdtRootChange, Qt::UniqueConnection);
    UpdateButtons();
    setWindowTitle(QStringLiteral("Halvora  v") + FileVersionText());
    LblVersion->setText(QStringLiteral("Halvora - HLS and TS to MP4 converter  v") +
                        FileVersionText());
    CheckForUpdateAsync();
    QCoreApplication::postEvent(this, new QEvent(static_cast<QEvent::Type>(WM_LOADICONS)));
}

void TForm2::SetBootstrapSetup(const QString& AAppDir, std::function<void(TUpdater&)> AConfigure) {
    FBootstrap.SetSetup(AAppDir, std::move(AConfigure));
}

void TForm2::CheckForUpdateAsync() {
    FBootstrap.Start();
}

BootstrapWindow TForm2::bootstrapWindow() {
    BootstrapWindow w;
    w.status = [this](const QString& AText) { setStatus(AText); };
    // The update prompt's boxes: the window could go while one of them is open.
    const QPointer<TForm2> self(this);
    w.message = [self](BoxKind AKind, const QString& AText, BoxButtons AButtons) {
        return self ? self->showMessage(AKind, AText, AButtons) : BoxAnswer::Closed;
    };
    w.componentsReady = [this] { UpdateButtons(); };
    w.quit = [] { QCoreApplication::quit(); };
    return w;
}

bool TForm2::event(QEvent* AEvent) {
    if (AEvent->type() == static_cast<QEvent::Type>(WM_LOADICONS)) {
        LoadWindowIcons();
        return true;
    }
    return QWidget::event(AEvent);
}

void TForm2::LoadWindowIcons() {
    FSmallIcon = QPixmap(QStringLiteral(":/icons/MAINICON/16.png"));
    FBigIcon = QPixmap(QStringLiteral(":/icons/MAINICON/32.png"));
    if (!FSmallIcon.isNull() || !FBigIcon.isNull()) {
        QIcon set;
        if (!FSmallIcon.isNull())
            set.addPixmap(FSmallIcon);
        if (!FBigIcon.isNull())
            set.addPixmap(FBigIcon);
        setWindowIcon(set);
    }
}

void TForm2::DoDestroy() {
    FSmallIcon = QPixmap();
    FBigIcon = QPixmap();
}

bool TForm2::eventFilter(QObject* AWatched, QEvent* AEvent) {
    if (AWatched == EdtInput && AEvent->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(AEvent);
        int k = key->key();
        EdtInputKeyDown(k, key->modifiers());
        if (k == 0)
            return true;
    }
    return QWidget::eventFilter(AWatched, AEvent);
}

void TForm2::UpdateButtons() {
    // While a job runs nothing starts another; Feedback stays usable.
    for (QPushButton* b : {BtnBrowse, BtnHeaders, BtnOutput, BtnRoot, BtnClip})
        b->setEnabled(!FBusy);
    BtnStop->setEnabled(FBusy);
    // The job took its quality at the start; a link's choice is open again afterwards.
    CmbQuality->setEnabled(!FBusy && IsUrl(Trimmed(EdtInput->text())));
    if (FBusy) {
        BtnConvert->setEnabled(false);
        BtnBatch->setEnabled(false);
        return;
    }
    const bool ffmpeg = !FFinder().isEmpty();
    const QString input = Trimmed(EdtInput->text());
    const QString root = Trimmed(EdtRoot->text());
    const QFileInfo inputInfo(input);
    const bool inputOk = IsUrl(input) || (!input.isEmpty() && inputInfo.isFile());
    const bool rootOk = !root.isEmpty() && QFileInfo(root).isDir();
    BtnConvert->setEnabled(ffmpeg && inputOk);
    BtnBatch->setEnabled(ffmpeg && rootOk);
    if (!ffmpeg)
        setStatus(QStringLiteral("ffmpeg not found - Convert/Batch are disabled"));
}

void TForm2::EdtInputChange() {
    // While a job runs the status line is the job's.
    if (IsUrl(Trimmed(EdtInput->text()))) {
        BtnConvert->setText(QStringLiteral("Download / Convert"));
        if (!FBusy)
            setStatus(QStringLiteral("URL detected: download stream then convert to MP4"));
    } else {
        BtnConvert->setText(QStringLiteral("Convert"));
        if (!FBusy)
            setStatus(QStringLiteral("Ready"));
    }
    FQuality.request(Trimmed(EdtInput->text()));
    UpdateButtons();
}

void TForm2::FillQuality() {
    const QString kept = CmbQuality->currentData().toString();
    const int keptIndex = CmbQuality->currentIndex();
    const QSignalBlocker block(CmbQuality);
    while (CmbQuality->count() > 2)
        CmbQuality->removeItem(2);
    const HlsPlaylist& list = FQuality.playlist();
    for (int i : VariantsByQuality(list))
        CmbQuality->addItem(VariantLabel(list.variants[i]), list.variants[i].uri);
    int at = keptIndex < 2 ? qMax(0, keptIndex) : CmbQuality->findData(kept);
    CmbQuality->setCurrentIndex(at < 0 ? 0 : at);
}

QualityChoice TForm2::qualityChoice() const {
    const int i = CmbQuality->currentIndex();
    if (i == 1)
        return {QualityChoice::Smallest, {}};
    // A variant counts only for the link it was read from.
    if (i >= 2 && FQuality.link() == Trimmed(EdtInput->text()))
        return {QualityChoice::Variant, CmbQuality->currentData().toString(),
                CmbQuality->currentText()};
    return {};
}

void TForm2::EdtInputKeyDown(int& AKey, Qt::KeyboardModifiers AShift) {
    Q_UNUSED(AShift); // Enter counts with any modifier
    if (AKey == Qt::Key_Return || AKey == Qt::Key_Enter) {
        AKey = 0;
        BtnConvertClick();
    }
}

void TForm2::EdtRootChange() {
    UpdateButtons();
}

void TForm2::BtnHeadersClick() {
    HeadersDialog dialog(FDialogs, FHeaders, this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    FHeaders = dialog.headers();
    // The qualities are read again with the headers the server may ask for.
    FQuality.setHeaders(FHeaders);
    FQuality.request(QString());
    FQuality.request(Trimmed(EdtInput->text()));
}

void TForm2::BtnBrowseClick() {
    const QString file =
        FDialogs.openFile(this, QStringLiteral("Select M3U8 file"), QString(),
                          QStringLiteral("M3U8 files (*.m3u8);;TS files (*.ts);;All files (*)"));
    if (file.isEmpty())
        return;
    EdtInput->setText(file);
    UpdateButtons();
}

void TForm2::BtnOutputClick() {
    const QString dir = FDialogs.pickFolder(this, QStringLiteral("Select output directory"),
                                            Trimmed(EdtOutput->text()));
    if (!dir.isEmpty())
        EdtOutput->setText(dir);
}

void TForm2::BtnRootClick() {
    const QString dir = FDialogs.pickFolder(this, QStringLiteral("Select batch root folder"),
                                            Trimmed(EdtRoot->text()));
    if (dir.isEmpty())
        return;
    EdtRoot->setText(dir);
    UpdateButtons();
}

void TForm2::BtnConvertClick() {
    StartJob([this] { FFlow.ConvertInput(); });
}

void TForm2::BtnBatchClick() {
    StartJob([this] { FFlow.ConvertBatch(); });
}

void TForm2::BtnClipClick() {
    OpenClipEditor(QString());
}

void TForm2::OpenClipEditor(const QString& AFile) {
    // A fresh modal window at every click, with no owner; nothing of it outlives the close.
    TClipForm form(FDialogs);
    if (!AFile.isEmpty())
        QTimer::singleShot(0, &form, [&form, AFile] { form.OpenFile(AFile); });
    form.exec();
}

void TForm2::OpenInput(const QList<QUrl>& AItems, InputTarget ATarget) {
    const InputChoice choice = ChooseInput(AItems, ATarget);
    switch (choice.action) {
    case InputAction::None:
        return;
    case InputAction::FillInput:
        EdtInput->setText(choice.text);
        break;
    case InputAction::FillRoot:
        EdtRoot->setText(choice.text);
        UpdateButtons();
        break;
    case InputAction::OpenClip:
        break;
    }
    if (choice.ignored > 0)
        setStatus(IgnoredItemsText(choice.ignored));
    if (choice.action == InputAction::OpenClip)
        OpenClipEditor(choice.text);
}

void TForm2::dragEnterEvent(QDragEnterEvent* AEvent) {
    if (ChooseInput(MimeItems(*AEvent->mimeData()), InputTarget::MainWindow).action !=
        InputAction::None)
        AEvent->acceptProposedAction();
}

void TForm2::dropEvent(QDropEvent* AEvent) {
    const QList<QUrl> items = MimeItems(*AEvent->mimeData());
    if (ChooseInput(items, InputTarget::MainWindow).action == InputAction::None)
        return;
    AEvent->acceptProposedAction();
    OpenInput(items, InputTarget::MainWindow);
}

void TForm2::BtnFeedbackClick() {
    // One window for the whole run, so a failed message is still there at the next click.
    if (!FFormFeedback)
        FFormFeedback = new TFormFeedback(FDialogs, this);
    FFormFeedback->exec();
}

QString TForm2::inputText() const {
    return EdtInput->text();
}

QString TForm2::outputText() const {
    return EdtOutput->text();
}

void TForm2::setOutputText(const QString& AText) {
    EdtOutput->setText(AText);
}

QString TForm2::rootText() const {
    return EdtRoot->text();
}

bool TForm2::fastMode() const {
    return ChkFast->isChecked();
}

void TForm2::setStatus(const QString& AText) {
    LblStatus->setText(AText);
}

void TForm2::setProgress(int APosition) {
    ProgressBar1->setValue(qBound(ProgressBar1->minimum(), APosition, ProgressBar1->maximum()));
}

void TForm2::setProgressMax(int AMax) {
    ProgressBar1->setMaximum(AMax);
}

int TForm2::progressMax() const {
    return ProgressBar1->maximum();
}

BoxAnswer TForm2::showMessage(BoxKind AKind, const QString& AText, BoxButtons AButtons) {
    return FDialogs.message(this, AKind, BoxTitle(AKind), AText, AButtons);
}

QString TForm2::pickFolder(const QString& ATitle) {
    return FDialogs.pickFolder(this, ATitle, Trimmed(EdtOutput->text()));
}

} // namespace halvora
