// Renders the main window and the help dialog to PNG files, in English and
// in Chinese, as the rendering test draws them, so a build without the test
// (the Windows build, scripts/windows-tests) can be compared with the
// reference pictures. Run it on the offscreen platform:
//
//   QT_QPA_PLATFORM=offscreen screenshot-tool OUTDIR
//
// writes OUTDIR/main-en.png, help-en.png, main-zh.png and help-zh.png, drawn
// as the rendering test draws them (tools/rendering.h).
#include "tools/rendering.h"

#include <QApplication>
#include <QDir>

#include <cstdio>

namespace {
bool save(const QImage& picture, const QString& path)
{
    if (!picture.save(path)) {
        std::fprintf(stderr, "screenshot-tool: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}
} // namespace

int main(int argc, char* argv[])
{
    QString error;
    if (!rendering::pinFonts(&error)) {
        std::fprintf(stderr, "screenshot-tool: %s\n", qPrintable(error));
        return 1;
    }
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
    for (const auto& [tag, language] :
         {std::pair{"en", QLocale::English}, std::pair{"zh", QLocale::Chinese}}) {
        rendering::Pictures pictures;
        if (!rendering::render(language, &pictures, &error)) {
            std::fprintf(stderr, "screenshot-tool: %s\n", qPrintable(error));
            return 1;
        }
        const QString suffix = QString::fromLatin1(tag) + QStringLiteral(".png");
        if (!save(pictures.window, out.filePath(QStringLiteral("main-") + suffix)) ||
            !save(pictures.help, out.filePath(QStringLiteral("help-") + suffix)))
            return 1;
    }
    return 0;
}
