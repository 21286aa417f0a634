// The help button: the picture for the targeted product (or the general
// help) in the system language, then the dialog.
#include "app/mainwindow.h"
#include "core/language.h"
#include "help/helptext.h"

void MainWindow::onInitHelp()
{
    const QString folder = helpDirPath;
    helpDialog->onInsertTheImagic(folder + helpPictureName(productId, systemLanguage()));
    helpDialog->onOpenHelpTextWidget();
}
