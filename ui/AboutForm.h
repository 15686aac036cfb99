// The About window: name, version, rights, two links and the licence.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QUrl>

#include <functional>

namespace pictavo::ui {

class BackgroundPicture;

inline constexpr const char* HomePage = "https://pictavo.org/";
inline constexpr const char* ProductPage = "https://pictavo.org/pictavo/";

class TAbout_Form : public QDialog {
    Q_OBJECT
public:
    explicit TAbout_Form(QWidget* mainWindow);

    // Shows the window modally: centred the first time, later where it was left.
    int showModal();

    // How links are opened; the desktop's browser unless a test replaces it.
    std::function<void(const QUrl&)> openUrl;

    QPushButton* BitBtn1;
    QPlainTextEdit* Memo1;
    QLabel* Label5;
    QLabel* Label7;
    BackgroundPicture* Image1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool shownBefore_ = false;
};

QString LicenceText();

}  // namespace pictavo::ui
