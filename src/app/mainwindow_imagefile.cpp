// Choosing, loading and checking the image file.
#include "app/mainwindow_imagefile.h"
#include "app/mainwindow.h"
#include "app/mainwindow_notices.h"
#include "app/ui_mainwindow.h"
#include "core/filedialog.h"
#include "core/language.h"
#include "image/firmwareimage.h"
#include "qtbridge/bytes.h"
#include "upgrade/devicecheck.h"
#include "widgets/progressbarcolor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include <limits>

namespace {

enum LoadResult { LoadOk = 0, LoadMalformed = 1, LoadOlder = 2, LoadNoPath = -1 };

// The largest file the header can describe (16 + two 32-bit lengths summed
// in 32 bits) that also fits one byte array; anything larger is refused
// before a byte of it is read.
constexpr qint64 kMaxImageFile = qint64(std::numeric_limits<int>::max()) - 64;

// The progress range and the header's fields of the image in memory.
void takeImageHeader(MainWindow& w)
{
    w.ui->progressBarColor->setRange(0, w.imageData.size());
    // A file shorter now than a moment ago leaves zeros here; the format
    // check refuses it.
    fwimage::Header header;
    fwimage::parseHeader(w.imageData, &header);
    w.dspImageEnd = std::int32_t(header.dspLength + fwimage::kHeaderSize);
    w.fileVersion = std::int32_t(header.version);
    w.armImageLength = std::int32_t(header.armLength);
}

void showVersionLabel(MainWindow& w)
{
    const QString label = systemIsChinese()
                              ? QStringLiteral("版本信息:  所选文件版本:%1  设备版本:%2")
                              : QStringLiteral("Version Message: Selected File Version:%1  设备版本:%2");
    w.ui->LB_VersionTip->setText(label.arg(w.fileVersion).arg(w.deviceVersion));
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

    // A file that cannot be opened, is too large to be an image, or too
    // short to hold a header leaves the image loaded before in memory, no
    // longer taken for the one filePath names: the checks refuse it.
    loadedFilePath.clear();
    heldDownload = false;
    // Size and time are taken before the read: a file that changes while it
    // is read looks changed to the start button, which reads it again.
    const QFileInfo info(path);
    const qint64 size = info.size();
    QFile file(path);
    if (info.isFile() && size >= fwimage::kHeaderSize && size <= kMaxImageFile &&
        file.open(QIODevice::ReadOnly)) {
        // Drop the previous image first: one copy in memory at a time.
        imageData.clear();
        protocol::Bytes().swap(engine.image.data);
        imageData = file.read(size);
        file.close();
        engine.image.data = toBytes(imageData);
        loadedFilePath = path;
        loadedFileSize = info.size();
        loadedFileModified = info.lastModified();
        takeImageHeader(*this);
    }
    showVersionLabel(*this);
    if (loadedFilePath.isEmpty() || fwimage::checkImage(imageData) != fwimage::Check::Ok)
        return LoadMalformed;
    return std::int32_t(deviceVersion) > fileVersion ? LoadOlder : LoadOk;
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
    if (imagecheck::loadAndCheck(*this))
        ui->toolButton_2->setEnabled(true);
}

namespace imagecheck {

bool loadAndCheck(MainWindow& w)
{
    // Loading, the progress range and the label come before any check.
    const int load = w.OpenTheFile();
    const notices::Id verdict =
        devicecheck::check({!w.filePath.isEmpty(), load == LoadOk || load == LoadOlder, w.productId,
                            w.deviceVersion, w.fileVersion});
    if (verdict != notices::Id::None)
        notices::fileNotice(w, verdict);
    return verdict == notices::Id::None || verdict == notices::Id::LowerVersion;
}

int replyFirmware(const MainWindow& w)
{
    if (w.versionReply.size() < 8)
        return 0;
    return static_cast<unsigned char>(w.versionReply.at(6)) |
           (static_cast<unsigned char>(w.versionReply.at(7)) << 8);
}

void holdDownloaded(MainWindow& w, const QByteArray& image, const QString& path)
{
    protocol::Bytes().swap(w.engine.image.data);
    w.imageData = image;
    w.engine.image.data = toBytes(image);
    w.loadedFilePath = QDir::cleanPath(path);
    w.heldDownload = true;
    takeImageHeader(w);
    showVersionLabel(w);
}

bool memoryImageIsCurrent(const MainWindow& w)
{
    if (w.heldDownload)
        return QDir::cleanPath(w.filePath) == w.loadedFilePath &&
               fwimage::checkImage(w.imageData) == fwimage::Check::Ok;
    if (w.filePath.isEmpty() || w.filePath != w.loadedFilePath)
        return false;
    if (fwimage::checkImage(w.imageData) != fwimage::Check::Ok)
        return false;
    const QFileInfo info(w.filePath);
    return !info.exists() || (info.size() == w.loadedFileSize && info.lastModified() == w.loadedFileModified);
}

} // namespace imagecheck
