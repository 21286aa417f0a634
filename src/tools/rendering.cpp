#include "tools/rendering.h"

#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "core/services.h"
#include "help/helptext.h"
#include "usb/backends/virtual/virtualbus.h"
#include "widgets/progressbarcolor.h"
#include "widgets/roundcircle.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace rendering {

#ifdef Q_OS_WIN
// No fontconfig here: the offscreen platform reads the fonts of one folder
// (QT_QPA_FONTDIR) with FreeType. That folder is UPDATER_FONT_DIR, which
// must hold DejaVu Sans and Noto Sans CJK (scripts/windows-tests links them
// there; Wine hands no QT_ variable to a Windows program). The families the
// form names become DejaVu Sans in render(), as fontconfig makes them on Linux.
bool pinFonts(QString* error)
{
    const QString dir = qEnvironmentVariable("UPDATER_FONT_DIR");
    for (const char* font : {"DejaVuSans.ttf", "NotoSansCJK-Regular.ttc"}) {
        if (dir.isEmpty() || !QFile::exists(dir + QLatin1Char('/') + QLatin1String(font))) {
            *error =
                QStringLiteral("UPDATER_FONT_DIR must name a folder holding %1").arg(QLatin1String(font));
            return false;
        }
    }
    qputenv("QT_QPA_FONTDIR", QFile::encodeName(dir));
    return true;
}
#else
namespace {
// The folders of fonts-dejavu-core and fonts-noto-cjk.
const char* const kFontDirs[] = {"/usr/share/fonts/truetype/dejavu", "/usr/share/fonts/opentype/noto"};
} // namespace

bool pinFonts(QString* error)
{
    const QString dir = QDir::tempPath() + QStringLiteral("/updater-fonts-%1").arg(getuid());
    if (!QDir().mkpath(dir + QStringLiteral("/cache"))) {
        *error = QStringLiteral("cannot create %1").arg(dir);
        return false;
    }
    QByteArray conf = "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n";
    for (const char* fonts : kFontDirs) {
        if (!QDir(QLatin1String(fonts)).exists()) {
            *error = QStringLiteral("%1 is missing (scripts/setup installs it)").arg(QLatin1String(fonts));
            return false;
        }
        conf += "  <dir>" + QByteArray(fonts) + "</dir>\n";
    }
    conf += "  <cachedir>" + dir.toUtf8() + "/cache</cachedir>\n";
    // The families the form names are not there: they become DejaVu Sans
    // in every locale (left alone, a Chinese locale picks Noto Sans CJK for
    // them), and anything else falls to DejaVu Sans, Chinese text to Noto
    // Sans CJK.
    for (const char* family : {"Arial", "微软雅黑", "Adobe Arabic"})
        conf += "  <match target=\"pattern\"><test name=\"family\"><string>" + QByteArray(family) +
                "</string></test>\n"
                "    <edit name=\"family\" mode=\"prepend\" binding=\"strong\"><string>DejaVu "
                "Sans</string></edit>\n"
                "  </match>\n";
    conf += "  <match target=\"pattern\">\n"
            "    <edit name=\"family\" mode=\"append_last\"><string>DejaVu Sans</string></edit>\n"
            "    <edit name=\"family\" mode=\"append_last\"><string>Noto Sans CJK SC</string></edit>\n"
            "  </match>\n";
    // One rendering for every machine: grey antialiasing, light hinting.
    conf += "  <match target=\"font\">\n"
            "    <edit name=\"antialias\" mode=\"assign\"><bool>true</bool></edit>\n"
            "    <edit name=\"hinting\" mode=\"assign\"><bool>true</bool></edit>\n"
            "    <edit name=\"hintstyle\" mode=\"assign\"><const>hintslight</const></edit>\n"
            "    <edit name=\"rgba\" mode=\"assign\"><const>none</const></edit>\n"
            "  </match>\n</fontconfig>\n";
    QFile file(dir + QStringLiteral("/fonts.conf"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(conf) != conf.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
        return false;
    }
    file.close();
    qputenv("FONTCONFIG_FILE", QFile::encodeName(file.fileName()));
    return true;
}
#endif

bool render(QLocale::Language language, Pictures* out, QString* error)
{
#ifdef Q_OS_WIN
    // Chinese text falls to Noto Sans CJK, the only font that has it.
    for (const char* family : {"Arial", "微软雅黑", "Adobe Arabic"})
        QFont::insertSubstitution(QString::fromUtf8(family), QStringLiteral("DejaVu Sans"));
    // Light hinting, as the fontconfig file on Linux asks.
    QFont font = QApplication::font();
    font.setHintingPreference(QFont::PreferVerticalHinting);
    QApplication::setFont(font);
#endif
    VirtualHidBus bus;
    ScopedServices services;
    services.hid(&bus).language(language);
    MainWindow window;
    // Held at its first angle: the picture must not depend on the time taken.
    if (auto* spin = window.ui->roundCircle->findChild<QTimer*>())
        spin->stop();
    window.ui->line_path->setText(QStringLiteral("/home/user/firmware/KRV0525.bin"));
    window.ui->progressBarColor->setRange(0, 100);
    window.ui->progressBarColor->setValue(40);
    window.move(40, 40);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) {
        *error = QStringLiteral("the main window was never exposed");
        return false;
    }
    window.onInitHelp();
    window.helpDialog->move(80, 80);
    if (!QTest::qWaitForWindowExposed(window.helpDialog)) {
        *error = QStringLiteral("the help dialog was never exposed");
        return false;
    }
    QCoreApplication::processEvents();
    out->window = window.grab().toImage();
    out->help = window.helpDialog->grab().toImage();
    return true;
}

} // namespace rendering
