// Every message box of the program is described by a BoxRequest and shown by
// presentBox. The default presenter builds the QMessageBox and runs it
// modally; tests install their own presenter to read and answer boxes.
#pragma once

#include <QMessageBox>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>

struct BoxRequest {
    // Which of the program's box forms this is; tests use it to check the form.
    enum class Form {
        EnglishWarning,     // toolkit warning box over the window, one Yes button
        ChineseNotice,      // information icon, no parent, one OK button "确 定"
        ChineseInformation, // toolkit information box over the window, one Yes button
        Completion,         // information icon, no parent, moved, one OK button
        Warning,            // other warning boxes (online update)
        Information,        // other information boxes (online update)
    };
    Form form = Form::EnglishWarning;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QWidget* parent = nullptr;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Yes;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QString buttonText; // when not empty: replaces the text of the first button
    bool moved = false; // when true the box's top-left corner goes to `position`
    QPoint position;
};

using BoxPresenter = std::function<int(const BoxRequest&)>;

// Shows the box and returns the button pressed (a QMessageBox::StandardButton).
int presentBox(const BoxRequest& request);

// An empty presenter restores the default one.
void setBoxPresenter(BoxPresenter presenter);

// The default presenter's construction, without exec(), for inspection.
std::unique_ptr<QMessageBox> buildBox(const BoxRequest& request);

// The forms of the program's notices.
int englishWarningBox(QWidget* window, const QString& title, const QString& text);
int chineseNoticeBox(const QString& title, const QString& text);
int chineseInformationBox(QWidget* window, const QString& title, const QString& text);
int completionBox(QWidget* window, const QString& title, const QString& text, const QString& buttonText);
int warningBox(QWidget* window, const QString& title, const QString& text,
               QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);
int informationBox(QWidget* window, const QString& title, const QString& text,
                   QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);

// A notice in the system language: the Chinese notice form with the Chinese
// title and text, or the English warning form with the English ones.
int languageNotice(QWidget* window, const QString& chineseTitle, const QString& chineseText,
                   const QString& englishTitle, const QString& englishText);
