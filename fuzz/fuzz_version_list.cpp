// The version check's reading of the server: the model table for the
// device's firmware number, the version list file read line by line
// (MainWindow::ReadTxtFile, the reader the check uses), the guard on its
// first line, the image path made from it and the text comparison that
// decides whether a newer version exists.
//
// Input: bytes 6 and 7 of a version reply (the firmware number,
// little-endian), then the version list file.
#include "app/mainwindow.h"
#include "fuzzcheck.h"
#include "online/curlfetch.h"
#include "online/serverlayout.h"
#include "usb/hidplatform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

MainWindow* window = nullptr;
QString listFile;

QString expectedModel(int number)
{
    static const int firsts[] = {1000, 2000, 3000, 3200, 3400, 3600, 3800, 4000, 5000, 6000, 7000};
    for (int i = 0; i + 1 < int(sizeof firsts / sizeof firsts[0]); ++i) {
        if (number >= firsts[i] && number < firsts[i + 1])
            return QStringLiteral("KRV%1").arg(firsts[i]);
    }
    return QString();
}

// UTF-16 code units compared one by one; a proper prefix orders first.
bool orderedBefore(const QString& a, const QString& b)
{
    const int n = std::min(a.size(), b.size());
    for (int i = 0; i < n; ++i) {
        if (a[i].unicode() != b[i].unicode())
            return a[i].unicode() < b[i].unicode();
    }
    return a.size() < b.size();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qtArgc = 1;
    static char* qtArgv[] = {(*argv)[0], nullptr};
    (void)argc;
    new QApplication(qtArgc, qtArgv);
    // No HID platform is installed: the window only serves as the reader's owner.
    window = new MainWindow;
    // On tmpfs when there is one: rewriting a file on disk waits for the disk.
    static QTemporaryDir scratch(
        (QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath()) +
        QStringLiteral("/fuzz-version-list-XXXXXX"));
    const QString dir = scratch.path();
    listFile = dir + QStringLiteral("/list.txt");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const int number = data[0] | (data[1] << 8);
    const QString versionText = QString::number(number);
    const QString model = modelDirectory(versionText.toInt());
    FUZZ_CHECK(model == expectedModel(number));
    if (!model.isEmpty()) {
        FUZZ_CHECK(model.size() == 7 && model.startsWith(QLatin1String("KRV")));
        FUZZ_CHECK(versionListPath(model) == model + "/" + model + ".txt");
    }

    {
        QFile f(listFile);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        FUZZ_CHECK(f.write(reinterpret_cast<const char*>(data + 2), qint64(size - 2)) == qint64(size - 2));
    }
    QStringList lines{QStringLiteral("kept")};
    FUZZ_CHECK(window->ReadTxtFile(listFile, lines) == 0);
    FUZZ_CHECK(!lines.isEmpty() && lines.first() == QLatin1String("kept")); // appended, not replaced
    lines.removeFirst();
    for (const QString& line : lines)
        FUZZ_CHECK(!line.contains(QLatin1Char('\n')));
    if (lines.isEmpty() || model.isEmpty())
        return 0;

    const QString newest = lines.first();
    if (isVersionToken(newest)) {
        // A version token names a file inside the model directory, and
        // libcurl's escaping leaves it as it is.
        const QString image = imagePath(model, newest);
        FUZZ_CHECK(image == model + "/" + newest + ".bin");
        const QString root = QStringLiteral("/srv/file/");
        FUZZ_CHECK(QDir::cleanPath(root + image).startsWith(root + model + "/"));
        FUZZ_CHECK(image.count(QLatin1Char('/')) == 1 && newest.size() <= kVersionTokenMax);
        FUZZ_CHECK(escapedUrlPath(image) == image);
    }
    FUZZ_CHECK((versionText < newest) == orderedBefore(versionText, newest));
    return 0;
}
