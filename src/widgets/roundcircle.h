#pragma once
#include <QColor>
#include <QWidget>
class RoundCircle : public QWidget {
    Q_OBJECT
public:
    explicit RoundCircle(QWidget* parent = nullptr) : QWidget(parent) {}
public slots:
    void setClockWise(bool) {}
    void setPieColor1Start(QColor) {}
    void setPieColor1End(QColor) {}
};
