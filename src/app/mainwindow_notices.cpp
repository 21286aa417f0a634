// The window's side of the notices: each one shown in its box form over the
// window.
#include "app/mainwindow_notices.h"
#include "qtbridge/noticetext.h"

#include "app/mainwindow.h"
#include "core/dataroot.h"
#include "core/language.h"
#include "core/messagebox.h"

#include <QDir>

namespace notices {

namespace {
// onInformationTip's form: the texts as given, only the titles translated.
void informationTip(MainWindow& window, Id id, const QString& chinese, const QString& english)
{
    ::languageNotice(id, &window, MainWindow::tr("信息"), chinese, MainWindow::tr("Information"), english);
}
} // namespace

void fileNotice(MainWindow& window, Id id)
{
    informationTip(window, id, text(id, true), text(id, false));
}

void numberedError(MainWindow& window, int number)
{
    languageNotice(window, numberedError(number));
}

void languageNotice(MainWindow& window, Id id)
{
    ::languageNotice(id, &window, title(id, true), text(id, true), title(id, false), text(id, false));
}

bool completion(MainWindow& window)
{
    // Neither wording goes through the translation function.
    const bool chinese = systemIsChinese();
    return completionBox(Id::Completion, &window, title(Id::Completion, chinese),
                         text(Id::Completion, chinese), completionButton(chinese)) == QMessageBox::Ok;
}

void localWriteError(MainWindow& window, const QString& path, const QString& reason)
{
    window.localWriteFailed = true;
    const QString shownPath = QDir::toNativeSeparators(path);
    ::languageNotice(Id::LocalWriteFailed, &window, title(Id::LocalWriteFailed, true),
                     text(Id::LocalWriteFailed, true).arg(shownPath, reason),
                     title(Id::LocalWriteFailed, false),
                     text(Id::LocalWriteFailed, false).arg(shownPath, reason));
}

void localWriteError(MainWindow& window, int error, const QString& path)
{
    QString reason;
    const QString shown = explainWriteFailure(path, error, &reason);
    localWriteError(window, shown, reason);
}

} // namespace notices

void MainWindow::onInformationTip(QString Chinese, QString English)
{
    notices::informationTip(*this, notices::Id::FileNotice, Chinese, English);
}

void MainWindow::FlushFileTip(int NUm)
{
    const notices::Id id = NUm == 0 ? notices::Id::DownloadSucceeded : notices::Id::DownloadFailed;
    if (systemIsChinese())
        chineseInformationBox(id, this, notices::title(id, true), notices::text(id, true));
    else
        englishWarningBox(id, this, notices::title(id, false), notices::text(id, false));
}

void notices::networkWarning(MainWindow& window)
{
    warningBox(Id::NetworkWarning, &window, title(Id::NetworkWarning, false), text(Id::NetworkWarning, false),
               QMessageBox::Ok, QMessageBox::Ok);
}
