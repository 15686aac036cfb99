// Loads preview pictures on a worker thread. Only the latest request
// counts: one the user has moved past is dropped, even half decoded.
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

namespace pictavo::ui {

class PreviewLoader : public QObject {
    Q_OBJECT
public:
    explicit PreviewLoader(QObject* parent = nullptr);
    ~PreviewLoader() override;

    // Replaces any earlier request; an empty path only cancels.
    void request(const QString& path, const QSize& room);

signals:
    // The picture's upright size, read from its header.
    void sized(const QString& path, const QSize& size);
    // The picture fitted into the room; null when it cannot be read.
    void loaded(const QString& path, const QImage& picture);

private:
    struct Request {
        QString path;
        QSize room;
        std::uint64_t id;
    };
    void work();
    bool current(std::uint64_t id);

    std::mutex lock_;
    std::condition_variable wake_;
    std::optional<Request> pending_;
    std::uint64_t latest_ = 0;
    bool quit_ = false;
    std::thread thread_;
};

}  // namespace pictavo::ui
