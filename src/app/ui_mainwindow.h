// The main window's form (placeholder: the full form replaces this).
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QToolButton>
#include <QWidget>

class RoundCircle;
class ProgressBarColor;

class Ui_MainWindow {
public:
    QWidget* centralWidget = nullptr;
    RoundCircle* roundCircle = nullptr;
    ProgressBarColor* progressBarColor = nullptr;
    QToolButton* toolButton_2 = nullptr;
    QToolButton* toolButton_4 = nullptr;
    QToolButton* TBFlush = nullptr;
    QLineEdit* line_path = nullptr;
    QLabel* LB_VersionTip = nullptr;
    QToolButton* TB_Help = nullptr;
    QLabel* AppTitle = nullptr;

    void setupUi(QMainWindow* window);
    void retranslateUi(QMainWindow* window);
};
