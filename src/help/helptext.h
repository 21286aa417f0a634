#pragma once
#include <QDialog>
class HelpText : public QDialog {
    Q_OBJECT
public:
    explicit HelpText(QWidget* parent = nullptr) : QDialog(parent) {}
public slots:
    void onOpenHelpTextWidget() {}
    void onInsertTheImagic(QString) {}
};
