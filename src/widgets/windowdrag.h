// Dragging a frameless window by its body, for the windows without a title
// bar (the main window, the help dialog): a left-button press grabs the
// point under the cursor, each move while the drag holds brings that point
// back under the cursor, and the window's release handler lets go.
#pragma once

#include <QMouseEvent>
#include <QWidget>

namespace windowdrag {

// A press: for the left button, true with the grabbed point (in window
// coordinates, to the nearest pixel) in `origin`; for any other, false
// with `origin` untouched.
inline bool grab(const QMouseEvent& event, QPoint* origin)
{
    if (event.button() != Qt::LeftButton)
        return false;
    *origin = event.localPos().toPoint();
    return true;
}

// A move while the drag holds: `window` moves by the cursor's displacement
// from `origin`.
inline void follow(QWidget& window, const QMouseEvent& event, const QPoint& origin)
{
    window.move(window.pos() + (event.localPos().toPoint() - origin));
}

} // namespace windowdrag
