// Every message box of the program is described by a BoxRequest and shown by
// presentBox. The default presenter builds the QMessageBox and runs it
// modally; tests install their own presenter to read and answer boxes.
#pragma once

#include "core/services.h"

#include <QMessageBox>
#include <QPoint>
#include <QString>

#include <cstdint>
#include <memory>

// Defined with its values beside the notices' texts (upgrade/notices.h).
namespace notices {
enum class Id : std::uint8_t;
}

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
    notices::Id notice{}; // which notice this is (notices::Id::None for no known one)
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

// Shows the box and returns the button pressed (a QMessageBox::StandardButton).
int presentBox(const BoxRequest& request);

// Tests and the unattended driver put a presenter in place of the default
// one through ScopedServices::boxes (core/services.h).

// The default presenter's construction, without exec(), for inspection.
std::unique_ptr<QMessageBox> buildBox(const BoxRequest& request);

// The forms of the program's notices; `id` says which notice it is.
int englishWarningBox(notices::Id id, QWidget* window, const QString& title, const QString& text);
int chineseNoticeBox(notices::Id id, const QString& title, const QString& text);
int chineseInformationBox(notices::Id id, QWidget* window, const QString& title, const QString& text);
int completionBox(notices::Id id, QWidget* window, const QString& title, const QString& text,
                  const QString& buttonText);
int warningBox(notices::Id id, QWidget* window, const QString& title, const QString& text,
               QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);
int informationBox(notices::Id id, QWidget* window, const QString& title, const QString& text,
                   QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton);

// A notice in the system language: the Chinese notice form with the Chinese
// title and text, or the English warning form with the English ones.
int languageNotice(notices::Id id, QWidget* window, const QString& chineseTitle, const QString& chineseText,
                   const QString& englishTitle, const QString& englishText);
