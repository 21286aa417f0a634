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
