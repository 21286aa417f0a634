// A mouse move as the platform delivers it while `held` is down. (QTest's
// mouseMove moves the cursor instead, which reaches a widget without mouse
// tracking only when the platform also knows the button is down.)
#pragma once

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

inline void moveMouse(QWidget* widget, const QPoint& local, Qt::MouseButtons held)
{
    QMouseEvent event(QEvent::MouseMove, local, widget->mapToGlobal(local), Qt::NoButton, held,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}
