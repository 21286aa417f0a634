#include "upgrade/notices.h"

#include <QCoreApplication>

namespace notices {

QString numberedErrorText(int number, bool chinese)
{
    // The window's translation context, as for every notice text.
    return chinese ? QCoreApplication::translate("MainWindow", "升级未成功，错误%1").arg(number)
                   : QCoreApplication::translate("MainWindow", "Error %1").arg(number);
}

} // namespace notices
