// The help dialog: a frameless, draggable window with a red title bar and a
// text area that shows one help picture (or, through its slot interface, a
// text file).
#pragma once

#include <QDialog>
#include <QLocale>
#include <QPoint>
#include <QString>

class QGridLayout;
class QVBoxLayout;
class QWidget;
class QLabel;
class QPushButton;
class QTextEdit;
class QMouseEvent;

// The help picture for a product id in a language: a file name in the help
// folder; a product without a picture of its own gets the updater's general
// help.
QString helpPictureName(int productId, QLocale::Language language);

// The dialog's widget tree.
class Ui_HelpText {
public:
    QGridLayout* gridLayout = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QWidget* widget = nullptr; // the title bar
    QLabel* LB_Help = nullptr;
    QPushButton* TB_Close = nullptr;
    QTextEdit* textEdit = nullptr;

    void setupUi(QDialog* dialog);
    void retranslateUi(QDialog* dialog);
};

class HelpText : public QDialog {
    Q_OBJECT

public:
    explicit HelpText(QWidget* parent = nullptr);
    ~HelpText() override;

    // The widget tree, owned by the dialog; public so tests can reach it.
    Ui_HelpText* ui = nullptr;

public slots:
    void onOpenHelpTextWidget();
    // Restyles the title bar; an empty style restores the default look.
    void onModifyStyle(QString style);
    void onModifyStyle();
    void onOpenPlainText(QString path);
    void setupEditor();
    void onInsertTheImagic(QString path);

private slots:
    void onCloseHelpTextWidget();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QPoint dragOrigin{0, 0};
    bool dragging = false;
};
