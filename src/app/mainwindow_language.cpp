// The two text buttons labelled by language.
#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "core/language.h"

void MainWindow::Get_LacaelLanuage()
{
    if (systemIsChinese()) {
        ui->toolButton_2->setText(tr("下载"));
        ui->TBFlush->setText(tr("文件路径"));
    } else {
        ui->toolButton_2->setText(tr("DownLoad"));
        ui->TBFlush->setText(tr("File Path"));
    }
}

void MainWindow::Slot_SetLanguage(int Language)
{
    if (Language == QLocale::Chinese) {
        ui->toolButton_2->setText(tr("开始下载"));
        ui->TBFlush->setText(tr("更新"));
    } else {
        ui->toolButton_2->setText(tr("DownLoad"));
        ui->TBFlush->setText(tr("File Path"));
    }
}
