#include "core/messagebox.h"

#include "core/language.h"

#include <QAbstractButton>

#include <utility>

namespace {
int runDefault(const BoxRequest& request)
{
    std::unique_ptr<QMessageBox> box = buildBox(request);
    return box->exec();
}
} // namespace

std::unique_ptr<QMessageBox> buildBox(const BoxRequest& request)
{
    auto box = std::make_unique<QMessageBox>(request.icon, request.title, request.text, QMessageBox::NoButton,
                                             request.parent);
    box->setStandardButtons(request.buttons);
    if (request.defaultButton != QMessageBox::NoButton && (request.buttons & request.defaultButton))
        box->setDefaultButton(request.defaultButton);
    if (!request.buttonText.isEmpty()) {
        const QList<QAbstractButton*> buttons = box->buttons();
        if (!buttons.isEmpty())
            buttons.first()->setText(request.buttonText);
    }
    if (request.moved)
        box->move(request.position);
    return box;
}

int presentBox(const BoxRequest& request)
{
    if (const BoxPresenter presenter = services::boxPresenter())
        return presenter(request);
    return runDefault(request);
}

namespace {
BoxRequest request(notices::Id id, BoxRequest::Form form, QMessageBox::Icon icon, QWidget* parent,
                   const QString& title, const QString& text, QMessageBox::StandardButtons buttons,
                   QMessageBox::StandardButton defaultButton)
{
    BoxRequest r;
    r.form = form;
    r.notice = id;
    r.icon = icon;
    r.parent = parent;
    r.title = title;
    r.text = text;
    r.buttons = buttons;
    r.defaultButton = defaultButton;
    return r;
}
} // namespace

int englishWarningBox(notices::Id id, QWidget* window, const QString& title, const QString& text)
{
    // As QMessageBox::warning(window, title, text, Yes, No): No is not among
    // the buttons, so Yes is the only and default button.
    return presentBox(request(id, BoxRequest::Form::EnglishWarning, QMessageBox::Warning, window, title, text,
                              QMessageBox::Yes, QMessageBox::No));
}

int chineseNoticeBox(notices::Id id, const QString& title, const QString& text)
{
    BoxRequest r = request(id, BoxRequest::Form::ChineseNotice, QMessageBox::Information, nullptr, title,
                           text, QMessageBox::Ok, QMessageBox::NoButton);
    r.buttonText = QStringLiteral("确 定");
    return presentBox(r);
}

int chineseInformationBox(notices::Id id, QWidget* window, const QString& title, const QString& text)
{
    return presentBox(request(id, BoxRequest::Form::ChineseInformation, QMessageBox::Information, window,
                              title, text, QMessageBox::Yes, QMessageBox::No));
}

int completionBox(notices::Id id, QWidget* window, const QString& title, const QString& text,
                  const QString& buttonText)
{
    BoxRequest r = request(id, BoxRequest::Form::Completion, QMessageBox::Information, nullptr, title, text,
                           QMessageBox::Ok, QMessageBox::NoButton);
    r.buttonText = buttonText;
    r.moved = true;
    r.position = window ? window->frameGeometry().topLeft() + QPoint(150, 70) : QPoint(150, 70);
    return presentBox(r);
}

int warningBox(notices::Id id, QWidget* window, const QString& title, const QString& text,
               QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return presentBox(request(id, BoxRequest::Form::Warning, QMessageBox::Warning, window, title, text,
                              buttons, defaultButton));
}

int informationBox(notices::Id id, QWidget* window, const QString& title, const QString& text,
                   QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return presentBox(request(id, BoxRequest::Form::Information, QMessageBox::Information, window, title,
                              text, buttons, defaultButton));
}

int languageNotice(notices::Id id, QWidget* window, const QString& chineseTitle, const QString& chineseText,
                   const QString& englishTitle, const QString& englishText)
{
    if (systemIsChinese())
        return chineseNoticeBox(id, chineseTitle, chineseText);
    return englishWarningBox(id, window, englishTitle, englishText);
}
