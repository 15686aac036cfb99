#include "ui/PreviewLoader.h"

#include "preview/PreviewDecode.h"
#include "ui/Artwork.h"

#include <QMetaObject>

namespace pictavo::ui {

PreviewLoader::PreviewLoader(QObject* parent) : QObject(parent), thread_([this] { work(); }) {}

PreviewLoader::~PreviewLoader()
{
    {
        std::lock_guard guard(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void PreviewLoader::request(const QString& path, const QSize& room)
{
    {
        std::lock_guard guard(lock_);
        ++latest_;
        pending_.reset();
        if (!path.isEmpty()) pending_ = Request{path, room, latest_};
    }
    wake_.notify_all();
}

bool PreviewLoader::current(std::uint64_t id)
{
    std::lock_guard guard(lock_);
    return !quit_ && id == latest_;
}

void PreviewLoader::work()
{
    for (;;) {
        Request r;
        {
            std::unique_lock guard(lock_);
            wake_.wait(guard, [this] { return quit_ || pending_.has_value(); });
            if (quit_) return;
            r = *pending_;
            pending_.reset();
        }
        // Reports reach the window's thread only while nothing newer was asked.
        const auto post = [this, id = r.id](auto report) {
            QMetaObject::invokeMethod(
                this, [this, id, report] { if (current(id)) report(); }, Qt::QueuedConnection);
        };
        PreviewCallbacks callbacks;
        callbacks.sized = [&](int w, int h) { post([this, path = r.path, w, h] { emit sized(path, QSize(w, h)); }); };
        callbacks.cancelled = [this, id = r.id] { return !current(id); };
        QImage shown;
        try {
            const Raster24 picture = DecodePreview(r.path.toStdString(), r.room.width(), r.room.height(), callbacks);
            if (picture.width() > 0 && picture.height() > 0) {
                shown = ToImage(picture);
                if (shown.width() > r.room.width() || shown.height() > r.room.height())
                    shown = shown.scaled(r.room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            }
        } catch (const std::exception&) {
            shown = QImage();  // an unreadable picture shows nothing
        }
        if (current(r.id)) post([this, path = r.path, shown] { emit loaded(path, shown); });
    }
}

}  // namespace pictavo::ui
