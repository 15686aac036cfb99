#include "ui/ResizeWorker.h"

#include "codecs/PictureFormats.h"

#include <QMetaObject>

#include <system_error>

namespace pictavo::ui {

QString FailureDetail(const std::exception& error, const std::string& inputFolder)
{
    const auto* failure = dynamic_cast<const ResizeError*>(&error);
    if (failure == nullptr || failure->input().empty()) return {};
    QString detail = QString::fromLocal8Bit(CommandLineMessage(failure->input(), error));
    const PictureKind* content = KindOfFile(inputFolder + failure->input());
    if (content != nullptr && content != KindOfName(failure->input()))
        detail += QString(" (the file holds a %1 picture)").arg(QString::fromStdString(content->name));
    return detail;
}

ResizeWorker::ResizeWorker(const BatchModel& model, const RunOptions& options) : model_(model), options_(options)
{
    options_.stop = &stop_;
}

ResizeWorker::~ResizeWorker()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

bool ResizeWorker::start()
{
    if (started_) return false;
    started_ = true;
    // Reports are posted to this object's thread; one queue keeps their order.
    const auto post = [this](auto report) { QMetaObject::invokeMethod(this, report, Qt::QueuedConnection); };
    const auto run = [this, post] {
        RunHooks hooks;
        hooks.progressChanged = [this, post](int position) {
            post([this, position] { emit progressChanged(position); });
        };
        hooks.beep = [this, post] { post([this] { emit beeped(); }); };
        hooks.damaged = [this, post](int, const std::string& input, const DecodeWarnings&) {
            post([this, name = QString::fromStdString(input)] { emit damaged(name); });
        };
        RunEnd end = RunEnd::Done;
        QString error;
        QString detail;
        try {
            RunResize(model_, hooks, options_);
        } catch (const RunStopped&) {
            end = RunEnd::Stopped;
        } catch (const std::exception& e) {
            end = RunEnd::Failed;
            error = QString::fromLocal8Bit(e.what());
            detail = FailureDetail(e, model_.imageFolder);
        } catch (...) {
            end = RunEnd::Failed;
            error = "Unknown error";
        }
        post([this, end, error, detail] {
            if (thread_.joinable()) thread_.join();
            emit finished(end, error, detail);
        });
    };
    try {
        thread_ = std::jthread(run);
    } catch (const std::system_error& e) {  // no thread to be had: the run fails, the window lives on
        post([this, error = QString::fromLocal8Bit(e.what())] { emit finished(RunEnd::Failed, error, {}); });
    }
    return true;
}

}  // namespace pictavo::ui
