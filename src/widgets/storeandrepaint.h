// The rule every setter of the display widgets follows: a new value is
// stored and the widget repainted; the value it already has changes nothing.
#pragma once

#include <QWidget>

template <typename T> void storeAndRepaint(QWidget* widget, T& member, const T& value)
{
    if (member == value)
        return;
    member = value;
    widget->update();
}
