// Renders the main window and the help dialog to PNG files, in English and
// in Chinese, for the documentation. Run it on the offscreen platform:
//
//   QT_QPA_PLATFORM=offscreen screenshot-tool OUTDIR
//
// writes OUTDIR/main-en.png, help-en.png, main-zh.png and help-zh.png. No
// device is attached (an empty virtual bus); the progress bar and the path
// field are given a sample state so the pictures show them.
#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "core/language.h"
#include "help/helptext.h"
#include "usb/backends/virtual/virtualbus.h"
#include "widgets/progressbarcolor.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>

#include <cstdio>

namespace {
bool save(QWidget* widget, const QString& path)
{
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "screenshot-tool: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool render(const QDir& out, const char* tag, QLocale::Language language)
{
    setLanguageOverride(language);
    MainWindow window;
    window.ui->line_path->setText(QStringLiteral("/home/user/firmware/KRV0525.bin"));
    window.ui->progressBarColor->setRange(0, 100);
    window.ui->progressBarColor->setValue(40);
    window.move(40, 40);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    window.onInitHelp();
    window.helpDialog->move(80, 80);
    if (!QTest::qWaitForWindowExposed(window.helpDialog))
        return false;
    QTest::qWait(50);
    const QString suffix = QString::fromLatin1(tag) + QStringLiteral(".png");
    return save(&window, out.filePath(QStringLiteral("main-") + suffix)) &&
           save(window.helpDialog, out.filePath(QStringLiteral("help-") + suffix));
}
} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshot-tool OUTDIR\n");
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "screenshot-tool: cannot create %s\n", argv[1]);
        return 1;
    }
    VirtualHidBus bus;
    setHidPlatform(&bus);
    const bool ok = render(out, "en", QLocale::English) && render(out, "zh", QLocale::Chinese);
    setHidPlatform(nullptr);
    return ok ? 0 : 1;
}
