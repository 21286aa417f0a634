// The main window's form: nine widgets on the rounded background picture.
// Other parts of the program reach the widgets through these pointers; the
// window owns the widgets, the form only points at them.
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

    // Builds the widgets on `window`, sets their texts and connects the
    // window's on_<object>_<signal> slots by name.
    void setupUi(QMainWindow* window);
    // Sets the form's own texts (the constructor replaces some of them).
    void retranslateUi(QMainWindow* window);
};

// The style sheets of the form, shared by the buttons that carry them.
extern const char* const kTextButtonStyle;
extern const char* const kLineEditStyle;
extern const char* const kWindowStyle;
extern const char* const kCentralWidgetStyle;
