// --check-update: the window's own version check, run once the device's
// version is known, as an explicit request (Slot_GetRobotVersion(true)), so
// the user sees its question and boxes. Nothing else in the window starts
// the check.
#pragma once

#include <QObject>

class MainWindow;

class CheckUpdateWhenVersionKnown : public QObject {
    Q_OBJECT
public:
    explicit CheckUpdateWhenVersionKnown(MainWindow& window);
    ~CheckUpdateWhenVersionKnown() override;

    bool done() const { return done_; }

signals:
    // The check ran; `result` is Slot_GetRobotVersion's.
    void checked(int result);

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void checkIfVersionKnown();

    MainWindow& window_;
    bool done_ = false;
};
