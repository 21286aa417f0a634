// The help button: the picture for the targeted product in the system
// language, then the dialog.
#include "app/mainwindow.h"
#include "core/language.h"
#include "help/helptext.h"

void MainWindow::onInitHelp()
{
    const QString folder = helpDirPath;
    const QString picture = helpPictureName(productId, systemLanguage());
    if (!picture.isEmpty())
        helpDialog->onInsertTheImagic(folder + picture);
    helpDialog->onOpenHelpTextWidget();
}
