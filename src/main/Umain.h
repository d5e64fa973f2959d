#pragma once

#include "Bootstrap.h"
#include "Conversion.h"
#include "ConvertView.h"
#include "DialogService.h"
#include "GatedConvertView.h"
#include "InputItems.h"
#include "QualityReader.h"
#include "WorkerJob.h"

#include <QEvent>
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <memory>
#include <thread>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace halvora {

class TFormFeedback;

// The main window: single conversion, batch conversion, and the doors to the clip editor and
// the feedback window. The conversions themselves live in ConversionFlow; the window is their
// view.
class TForm2 : public QWidget, public ConvertView {
    Q_OBJECT

public:
    // Posted to itself at the first show; the icons are loaded when the loop reaches it.
    static constexpr int WM_LOADICONS = 0x8064;

    explicit TForm2(DialogService& ADialogs, QWidget* AParent = nullptr, ProcessRunner ARunner = {},
                    FFmpegFinder AFinder = {});
    ~TForm2() override;

    // Controls, named as their object names.
    QFrame* pnlSingle = nullptr;
    QFrame* pnlBatch = nullptr;
    QFrame* Panel1 = nullptr;
    QPushButton* BtnFeedback = nullptr;
    QFrame* Panel2 = nullptr;
    QPushButton* BtnClip = nullptr;
    QLabel* LblStatus = nullptr;
    QLabel* LblInput = nullptr;
    QLineEdit* EdtInput = nullptr;
    QLabel* LblQuality = nullptr;
    QComboBox* CmbQuality = nullptr;   // "Best", "Smallest", then the link's variants
    QPushButton* BtnHeaders = nullptr; // the link's request headers and cookies file
    QPushButton* BtnBrowse = nullptr;
    QPushButton* BtnOutput = nullptr;
    QLineEdit* EdtOutput = nullptr;
    QCheckBox* ChkFast = nullptr;
    QPushButton* BtnConvert = nullptr;
    QLabel* LblRoot = nullptr;
    QLineEdit* EdtRoot = nullptr;
    QPushButton* BtnRoot = nullptr;
    QPushButton* BtnBatch = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* LblVersion = nullptr;
    QPushButton* BtnStop = nullptr; // ends the running conversion (also Esc)

    void UpdateButtons();
    void EdtInputChange();
    void EdtInputKeyDown(int& AKey, Qt::KeyboardModifiers AShift);
    void EdtRootChange();
    void BtnBrowseClick();
    void BtnHeadersClick();
    void BtnOutputClick();
    void BtnRootClick();
    void BtnConvertClick();
    void BtnBatchClick();
    // Opens the clip editor.
    void BtnClipClick();
    // Opens the feedback window.
    void BtnFeedbackClick();
    void LoadWindowIcons();
    void BtnStopClick();

    // A conversion or batch is running on the worker.
    bool busy() const { return FBusy; }

    // Files, folders or links handed over by a drop or the command line: the first one fills
    // the input or the root field, or opens the clip editor on it.
    void OpenInput(const QList<QUrl>& AItems, InputTarget ATarget);
    // The clip editor, modal, on AFile (opened as through its Open button); empty: none.
    void OpenClipEditor(const QString& AFile);

    ConversionFlow& flow() { return FFlow; }
    // Reads the variants of the link being typed (tests shorten its pause).
    QualityReader& qualityReader() { return FQuality; }

    // Where the start-up bootstrap provisions components (default: the program's folder) and
    // a last say on its TUpdater (tests: helper, elevation). Set before the first show.
    void SetBootstrapSetup(const QString& AAppDir, std::function<void(TUpdater&)> AConfigure);
    // The start-up provisioning and update check.
    const BootstrapJobs& bootstrap() const { return FBootstrap; }

    // ConvertView
    QString inputText() const override;
    QString outputText() const override;
    void setOutputText(const QString& AText) override;
    QString rootText() const override;
    bool fastMode() const override;
    QualityChoice qualityChoice() const override;
    RequestHeaders requestHeaders() const override { return FHeaders; }
    void setStatus(const QString& AText) override;
    void setProgress(int APosition) override;
    void setProgressMax(int AMax) override;
    int progressMax() const override;
    BoxAnswer showMessage(BoxKind AKind, const QString& AText, BoxButtons AButtons) override;
    QString pickFolder(const QString& ATitle) override;
    bool closed() const override { return FClosed; }

protected:
    void showEvent(QShowEvent* AEvent) override;
    void closeEvent(QCloseEvent* AEvent) override;
    bool event(QEvent* AEvent) override;
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override;
    void keyPressEvent(QKeyEvent* AEvent) override;
    void dragEnterEvent(QDragEnterEvent* AEvent) override;
    void dropEvent(QDropEvent* AEvent) override;

    // Start-up work of the first show.
    virtual void DoShow();
    // Releases the window icons.
    void DoDestroy();
    // Starts the start-up component bootstrap and update check.
    virtual void CheckForUpdateAsync();

    DialogService& FDialogs;
    FFmpegFinder FFinder;
    // The conversions run on FJob and reach this window only through its gate.
    WorkerJob FJob;
    GatedConvertView FWorkerView;
    ConversionFlow FFlow;
    QPixmap FSmallIcon; // 16 x 16 window icon; null when none
    QPixmap FBigIcon;   // 32 x 32 window icon; null when none

private:
    void createControls();
    void createSingleControls();
    void createBatchControls();
    void layOutPanels();
    void layOutBatchAndBottom();
    // Tab order, drops and the controls' handlers.
    void connectControls();
    // Refills CmbQuality from the variants read, keeping the choice where it still exists.
    void FillQuality();
    QualityReader FQuality;
    RequestHeaders FHeaders; // as the Headers dialog last accepted them; never stored
    // Runs AWork (a flow) on the worker unless a job runs already.
    void StartJob(std::function<void()> AWork);
    // The job's end, on the window thread.
    void JobDone();
    bool FBusy = false;
    bool FCloseAfterJob = false; // the user chose to stop and close
    bool FShown = false;
    bool FClosed = false;                   // closing the window ends the application
    TFormFeedback* FFormFeedback = nullptr; // created at the first click, then kept

    // What the start-up jobs need of this window.
    BootstrapWindow bootstrapWindow();
    // Start-up provisioning and update check: their jobs end before the window goes.
    BootstrapJobs FBootstrap;
};

// Applies the "Sky" style sheet from the program's resources; false when it cannot be read.
bool ApplySkyStyle();

} // namespace halvora
