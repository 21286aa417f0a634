#pragma once
#include <QWidget>
class ProgressBarColor : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBarColor(QWidget* parent = nullptr) : QWidget(parent) {}
public slots:
    void setRange(int, int) {}
    void setValue(int) {}
};
