// The window's side of the upgrade's notices: each one shown in its box form
// over the window.
#include "app/mainwindow_notices.h"

#include "app/mainwindow.h"
#include "core/language.h"
#include "core/messagebox.h"

namespace notices {

void fileNotice(MainWindow& window, const Wording& wording)
{
    window.onInformationTip(QString::fromUtf8(wording.chinese), QString::fromUtf8(wording.english));
}

void numberedError(MainWindow& window, int number)
{
    languageNotice(&window, MainWindow::tr("信息"), numberedErrorText(number, true),
                   MainWindow::tr("Warning"), numberedErrorText(number, false));
}

bool completion(MainWindow& window)
{
    // Neither wording goes through the translation function.
    const bool chinese = systemIsChinese();
    const QString title = chinese ? QStringLiteral("信息") : QStringLiteral("information");
    const QString text = chinese ? QStringLiteral("更新成功!\n点击确定按钮关闭软件！")
                                 : QStringLiteral("Update Complete!\nClick OK to close the software!");
    const QString button = chinese ? QStringLiteral("确定") : QStringLiteral("Ok");
    return completionBox(&window, title, text, button) == QMessageBox::Ok;
}

} // namespace notices

void MainWindow::onInformationTip(QString Chinese, QString English)
{
    // The texts are shown as given; only the titles are translated.
    languageNotice(this, tr("信息"), Chinese, tr("Information"), English);
}

void MainWindow::FlushFileTip(int NUm)
{
    const bool ok = NUm == 0;
    if (systemIsChinese())
        chineseInformationBox(this, tr("提示"), ok ? tr("更新成功") : tr("更新失败"));
    else
        englishWarningBox(this, tr("Warning"), ok ? tr("Update is Successful") : tr("Update is failed"));
}
