// Helpers of the window tests.
#pragma once

#include "ui/MainForm.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>

#include <ostream>

// Failures show texts as text.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace pictavo::ui::uitest {

inline void SendMouse(QWidget* w, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

inline void Click(QWidget* w, Qt::MouseButton button = Qt::LeftButton)
{
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    SendMouse(w, QEvent::MouseButtonPress, at, button, button);
    SendMouse(w, QEvent::MouseButtonRelease, at, button, Qt::NoButton);
}

// Processes events until the form's run has ended; false after 30 s.
inline bool WaitForRun(TMain_Form& form)
{
    if (!form.running()) return true;
    QSignalSpy ended(&form, &TMain_Form::runFinished);
    return ended.wait(30000);
}

}  // namespace pictavo::ui::uitest
