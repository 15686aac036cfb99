// The main window: a borderless, skinned surface holding the five steps of
// the job, bound to the batch engine's model.
#pragma once

#include "batch/Model.h"
#include "ui/Widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QToolButton>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPolygon>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

namespace pictavo::ui {

class TAbout_Form;
class ResizeWorker;
enum class RunEnd;

// The window outline: 13 points, the last repeating the first.
QPolygon WindowOutline();

// The input choice that lists every picture in `paths` (dropped files):
// JPG or BMP when all are of that kind, all pictures otherwise.
InputFormat FormatForFiles(const QStringList& paths);

class TMain_Form : public QWidget {
    Q_OBJECT
public:
    TMain_Form();
    ~TMain_Form() override;

    void setAboutForm(TAbout_Form* about) { aboutForm_ = about; }

    // The file-open dialog: the chosen file's full path, or empty when the
    // user cancels. Tests replace it.
    std::function<QString(QWidget* parent, InputFormat format)> chooseFile;
    // How a list entry is opened: the desktop's default application.
    std::function<void(const QUrl&)> openUrl;
    // The beep at the end of a run.
    std::function<void()> beep;
    // The output-folder dialog: the chosen folder, or empty when cancelled.
    std::function<QString(QWidget* parent, const QString& start)> chooseOutputFolder;

    // The choices, the output folder and the last folder, as the user left
    // them; a value that no longer makes sense keeps the default.
    void restoreSettings();
    void saveSettings() const;
    // Takes dropped folders or pictures as if chosen in the dialog; false
    // (and nothing changes) while a run is going or when none is usable.
    bool takeDropped(const QList<QUrl>& urls);

    const BatchModel& model() const { return model_; }
    // A resize run is going on in the background.
    bool running() const { return worker_ != nullptr; }

    // The handlers, as the controls raise them. resizeClick starts the run
    // and returns; runFinished() follows when it ends.
    void chooseFolderClick();
    void resizeClick();
    void pictureDoubleClick();
    void aboutClick();
    void minimizeClick();
    void closeClick();

    // The controls.
    BackgroundPicture* Skin;
    QLabel* ListCaption;
    QLabel* DoneLabel;
    QLabel* SeriesCaption;
    HotSpot* AboutSpot;
    HotSpot* MinimizeSpot;
    HotSpot* CloseSpot;
    QLabel* Step2Label;
    QLabel* Step3Label;
    QLabel* Step4Label;
    QLabel* Step5Label;
    QLabel* Step1Label;
    QPushButton* ChooseFolderButton;
    QListWidget* PictureList;
    QPushButton* ResizeButton;
    RadioGroup* SizeGroup;
    RadioGroup* QualityGroup;
    QProgressBar* RunProgress;
    QLineEdit* SeriesEdit;
    RadioGroup* InputFormatGroup;
    QCheckBox* SharpenBox;

    // The strip under the steps.
    QLabel* ProgressCount;       // "12 / 120" during a run
    QLabel* OutputFolderCaption;
    QLabel* OutputFolderPath;    // elided in the middle
    QToolButton* OutputFolderButton;
    QToolButton* OutputFolderReset;
    QLabel* OutputFormatCaption;
    QComboBox* OutputFormatBox;  // the output-format table, in its order
    QCheckBox* KeepMetadataBox;  // metadata policy safe, else none

signals:
    void runFinished();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createStrip();
    void chooseOutputFolderClick();
    void setOutputFolder(const QString& folder);
    void showProgress(int position);
    void colourControls();
    void connectHandlers();
    void readChoices();     // the controls' choices into the model
    void showModel();       // the model's state onto the controls
    void endRun(RunEnd end, const QString& error, const QString& detail);
    void scanned();         // a new list: the controls' state for it

    // What the scans and runs leave on the controls besides the list.
    struct RunState {
        bool resizeEnabled = false;
        bool doneVisible = false;
        int progressMax = 100;
        int progressPosition = 0;
    };

    BatchModel model_;
    RunState runState_;
    TAbout_Form* aboutForm_ = nullptr;
    std::unique_ptr<ResizeWorker> worker_;
    QStringList damaged_;  // inputs of the current run found damaged
    QString outputFolder_;  // empty: beside the originals
    QString lastFolder_;    // where the file dialog opens
    int written_ = 0;       // pictures done in this run
    bool closeAfterRun_ = false;
};

}  // namespace pictavo::ui
