// The resize run on a worker thread, so the window stays alive while it
// lasts. What the run reports arrives on the window's thread, in order.
#pragma once

#include "batch/ResizeRun.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <thread>

namespace pictavo::ui {

enum class RunEnd { Done, Failed, Stopped };

// The picture a failed run stopped at and why, as the command line says it,
// with the format its content holds where that is not the one its name says.
QString FailureDetail(const std::exception& error, const std::string& inputFolder);

class ResizeWorker : public QObject {
    Q_OBJECT
public:
    // Runs over a copy of `model`; the caller's model is not touched.
    ResizeWorker(const BatchModel& model, const RunOptions& options);
    // Stops the run and waits for it.
    ~ResizeWorker() override;

    // Starts the run; a worker runs once, so a second call is refused and
    // returns false.
    bool start();
    // No further picture is started; the run ends with RunEnd::Stopped.
    void stop() { stop_ = true; }

signals:
    void progressChanged(int position);
    void beeped();
    // The listed picture `input` was damaged; it was written all the same.
    void damaged(const QString& input);
    // result() then holds the model as the run left it; `error` is the
    // failure's message, `detail` the picture and the cause as the command
    // line names them.
    void finished(pictavo::ui::RunEnd end, const QString& error, const QString& detail);

public:
    const BatchModel& result() const { return model_; }

private:
    BatchModel model_;
    RunOptions options_;
    std::atomic<bool> stop_ = false;
    bool started_ = false;
    std::jthread thread_;
};

}  // namespace pictavo::ui
