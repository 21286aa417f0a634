// Helpers shared by the link tests: a recorder of the report events that
// reach a window and of the message boxes shown.
#pragma once

#include "app/messagebox.h"
#include "usb/usbevent.h"

#include <QByteArray>
#include <QEvent>
#include <QList>
#include <QObject>

// Records the reportData of every USBEvent the watched object receives,
// and lets it go on to the window's own handler.
class ReportRecorder : public QObject {
public:
    explicit ReportRecorder(QObject* watched)
        : QObject(watched)
    {
        watched->installEventFilter(this);
    }
    QList<QByteArray> reports;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == USBEventType)
            reports.append(static_cast<USBEvent*>(event)->reportData);
        return false;
    }
};

// Installs a presenter that records every box and answers its first button.
class BoxRecorder {
public:
    BoxRecorder()
    {
        setBoxPresenter([this](const BoxRequest& r) {
            boxes.append(r);
            return int(QMessageBox::Ok);
        });
    }
    ~BoxRecorder() { setBoxPresenter(nullptr); }
    QList<BoxRequest> boxes;
};
