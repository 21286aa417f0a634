#include "app/checkupdate.h"

#include "app/mainwindow.h"
#include "usb/usbevent.h"

#include <QTimer>

CheckUpdateWhenVersionKnown::CheckUpdateWhenVersionKnown(MainWindow& window)
    : QObject(&window)
    , window_(window)
{
    window_.installEventFilter(this);
    // A window that already holds a version reply needs no new one.
    QTimer::singleShot(0, this, &CheckUpdateWhenVersionKnown::checkIfVersionKnown);
}

CheckUpdateWhenVersionKnown::~CheckUpdateWhenVersionKnown()
{
    window_.removeEventFilter(this);
}

bool CheckUpdateWhenVersionKnown::eventFilter(QObject* watched, QEvent* event)
{
    // The window handles the report after this filter; look once it has.
    if (watched == &window_ && event->type() == USBEventType && !done_)
        QTimer::singleShot(0, this, &CheckUpdateWhenVersionKnown::checkIfVersionKnown);
    return false;
}

void CheckUpdateWhenVersionKnown::checkIfVersionKnown()
{
    if (done_ || window_.versionReply.isEmpty())
        return;
    done_ = true;
    window_.removeEventFilter(this);
    int result = -1;
    QMetaObject::invokeMethod(&window_, "Slot_GetRobotVersion", Qt::DirectConnection,
                              Q_RETURN_ARG(int, result), Q_ARG(bool, true));
    emit checked(result);
}

bool parseServerOption(const QString& text, QString* host, int* port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const int value = text.mid(colon + 1).toInt(&ok);
    if (colon <= 0 || !ok || value < 1 || value > 65535)
        return false;
    *host = text.left(colon);
    *port = value;
    return true;
}
