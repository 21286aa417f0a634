// Choosing, loading and checking the image file.
#include "app/mainwindow_imagefile.h"
#include "app/mainwindow.h"
#include "app/mainwindow_notices.h"
#include "app/ui_mainwindow.h"
#include "core/filedialog.h"
#include "core/language.h"
#include "image/firmwareimage.h"
#include "widgets/progressbarcolor.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace {

enum LoadResult { LoadOk = 0, LoadMalformed = 1, LoadOlder = 2, LoadNoPath = -1 };

bool readFile(const QString& path, QByteArray* content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.readAll();
    file.close();
    return true;
}

} // namespace

int MainWindow::GetTheFilePath()
{
    filePath = askOpenFileName(this, tr("打开文件"), QStringLiteral("/home"), fwimage::fileFilter(productId));
    return filePath.isEmpty() ? -1 : 0;
}

int MainWindow::OpenTheFile()
{
    const QString path = filePath;
    if (path.isEmpty())
        return LoadNoPath;

    QByteArray content;
    if (readFile(path, &content)) {
        imageData = content;
        loadedFilePath = path;
        ui->progressBarColor->setRange(0, imageData.size());
        // A file without a whole header leaves zeros here; the format check
        // below refuses it.
        fwimage::Header header;
        fwimage::parseHeader(imageData, &header);
        dspImageEnd = std::int32_t(header.dspLength + fwimage::kHeaderSize);
        fileVersion = std::int32_t(header.version);
        armImageLength = std::int32_t(header.armLength);
    }
    // A file that cannot be opened keeps the image loaded before; with none
    // loaded before, imageData is empty and fails the format check.

    const QString label = systemIsChinese()
                              ? QStringLiteral("版本信息:  所选文件版本:%1  设备版本:%2")
                              : QStringLiteral("Version Message: Selected File Version:%1  设备版本:%2");
    ui->LB_VersionTip->setText(label.arg(fileVersion).arg(deviceVersion));

    if (fwimage::checkImage(imageData) != fwimage::Check::Ok)
        return LoadMalformed;
    return std::int32_t(deviceVersion) > fileVersion ? LoadOlder : LoadOk;
}

void MainWindow::on_toolButton()
{
    OpenTheFile();
}

int MainWindow::slot_VersionCheck()
{
    return fwimage::familyRule(productId, deviceVersion, fileVersion);
}

void MainWindow::on_TBFlush_clicked()
{
    ui->toolButton_2->setEnabled(false);
    GetTheFilePath();
    ui->line_path->setText(filePath);
    if (imagecheck::loadAndCheck(*this, imagecheck::Mode::Select))
        ui->toolButton_2->setEnabled(true);
}

namespace imagecheck {

bool loadAndCheck(MainWindow& w, Mode mode)
{
    // Loading, the progress range and the label come before any check.
    const int load = w.OpenTheFile();
    if (w.filePath.isEmpty()) {
        notices::fileNotice(w, notices::kPathEmpty);
        return false;
    }
    // The family check comes before the format check.
    const int family = w.slot_VersionCheck();
    if (family == -1) {
        notices::fileNotice(w, notices::kFileMismatch);
        return false;
    }
    if (family == -2) {
        notices::fileNotice(w, notices::kSoftwareType);
        return false;
    }
    const bool stale = mode == Mode::Start && w.loadedFilePath != w.filePath;
    if (load == LoadMalformed || stale) {
        notices::fileNotice(w, notices::kFileFormat);
        return false;
    }
    if (load == LoadOlder)
        notices::fileNotice(w, notices::kLowerVersion);
    return true;
}

bool memoryImageIsCurrent(const MainWindow& w)
{
    if (w.filePath.isEmpty() || w.filePath != w.loadedFilePath)
        return false;
    if (fwimage::checkImage(w.imageData) != fwimage::Check::Ok)
        return false;
    QByteArray onDisk;
    return !readFile(w.filePath, &onDisk) || onDisk == w.imageData;
}

} // namespace imagecheck
