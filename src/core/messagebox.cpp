#include "core/messagebox.h"

#include "core/language.h"

#include <QAbstractButton>

#include <utility>

namespace {
BoxPresenter& presenter()
{
    static BoxPresenter p;
    return p;
}

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
    if (presenter())
        return presenter()(request);
    return runDefault(request);
}

void setBoxPresenter(BoxPresenter p)
{
    presenter() = std::move(p);
}

namespace {
BoxRequest request(BoxRequest::Form form, QMessageBox::Icon icon, QWidget* parent, const QString& title,
                   const QString& text, QMessageBox::StandardButtons buttons,
                   QMessageBox::StandardButton defaultButton)
{
    BoxRequest r;
    r.form = form;
    r.icon = icon;
    r.parent = parent;
    r.title = title;
    r.text = text;
    r.buttons = buttons;
    r.defaultButton = defaultButton;
    return r;
}
} // namespace

int englishWarningBox(QWidget* window, const QString& title, const QString& text)
{
    // As QMessageBox::warning(window, title, text, Yes, No): No is not among
    // the buttons, so Yes is the only and default button.
    return presentBox(request(BoxRequest::Form::EnglishWarning, QMessageBox::Warning, window, title, text,
                              QMessageBox::Yes, QMessageBox::No));
}

int chineseNoticeBox(const QString& title, const QString& text)
{
    BoxRequest r = request(BoxRequest::Form::ChineseNotice, QMessageBox::Information, nullptr, title, text,
                           QMessageBox::Ok, QMessageBox::NoButton);
    r.buttonText = QStringLiteral("确 定");
    return presentBox(r);
}

int chineseInformationBox(QWidget* window, const QString& title, const QString& text)
{
    return presentBox(request(BoxRequest::Form::ChineseInformation, QMessageBox::Information, window, title,
                              text, QMessageBox::Yes, QMessageBox::No));
}

int completionBox(QWidget* window, const QString& title, const QString& text, const QString& buttonText)
{
    BoxRequest r = request(BoxRequest::Form::Completion, QMessageBox::Information, nullptr, title, text,
                           QMessageBox::Ok, QMessageBox::NoButton);
    r.buttonText = buttonText;
    r.moved = true;
    r.position = window ? window->frameGeometry().topLeft() + QPoint(150, 70) : QPoint(150, 70);
    return presentBox(r);
}

int warningBox(QWidget* window, const QString& title, const QString& text,
               QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return presentBox(request(BoxRequest::Form::Warning, QMessageBox::Warning, window, title, text, buttons,
                              defaultButton));
}

int informationBox(QWidget* window, const QString& title, const QString& text,
                   QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    return presentBox(request(BoxRequest::Form::Information, QMessageBox::Information, window, title, text,
                              buttons, defaultButton));
}

int languageNotice(QWidget* window, const QString& chineseTitle, const QString& chineseText,
                   const QString& englishTitle, const QString& englishText)
{
    if (systemIsChinese())
        return chineseNoticeBox(chineseTitle, chineseText);
    return englishWarningBox(window, englishTitle, englishText);
}
