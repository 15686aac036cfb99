// The application object: its title, and the one place where an error that
// escapes an event handler is shown.
#pragma once

#include <QApplication>
#include <QMessageBox>

#include <exception>
#include <functional>
#include <memory>

namespace pictavo::ui {

// The executable's file name without its folder, cut at its first ".", all
// but the first character in lower case: "REDAZAR.x.EXE" gives "Redazar".
QString ApplicationTitle(const QString& executablePath);

// The error box: the message with the full-stop rule, the application title
// as caption, the stop icon and OK.
std::unique_ptr<QMessageBox> MakeErrorBox(const QString& message);

// Releases any mouse grab and shows the error box (or hands the message to
// the sink that tests install).
void ShowError(const QString& message);
void SetErrorSink(std::function<void(const QString& message)> sink);

// Runs an event handler; an error it raises ends it and is shown.
template <class Handler>
void RunHandler(Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        ShowError(QString::fromLocal8Bit(e.what()));
    }
}

class PictavoApplication : public QApplication {
public:
    PictavoApplication(int& argc, char** argv);
    // Anything a handler did not catch still reaches the error box.
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace pictavo::ui
