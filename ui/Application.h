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

// The error box: the message with the full-stop rule, then `detail` (the
// picture and the cause) under it, the application title as caption, the
// stop icon and OK. Its text can be selected and copied.
std::unique_ptr<QMessageBox> MakeErrorBox(const QString& message, const QString& detail = {});

// Releases any mouse grab and shows the error box (or hands its text to
// the sink that tests install).
void ShowError(const QString& message, const QString& detail = {});
void SetErrorSink(std::function<void(const QString& message)> sink);

// Shows the exception being handled; the one error path of handlers,
// notify and the resize run.
void ShowCurrentError();
// A warning box with `message`; the same test seam as the error box.
void ShowWarning(const QString& message);

// Runs an event handler; an error it raises ends it and is shown.
template <class Handler>
void RunHandler(Handler&& handler)
{
    try {
        handler();
    } catch (...) {
        ShowCurrentError();
    }
}

// What the program and the window tests both need before any window
// exists: the number settings, the artwork, the title taken from
// `executablePath`, the icon, the style with its hint timing and the fonts.
void SetUpApplication(const QString& executablePath);

class PictavoApplication : public QApplication {
public:
    PictavoApplication(int& argc, char** argv);
    // Anything a handler did not catch still reaches the error box.
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace pictavo::ui
