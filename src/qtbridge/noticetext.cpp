#include "qtbridge/noticetext.h"

#include <QCoreApplication>

namespace notices {

namespace {

QString shown(const char* utf8, bool translated)
{
    // The window's translation context; no translation is loaded, so the
    // text shows as written.
    return translated ? QCoreApplication::translate("MainWindow", utf8) : QString::fromUtf8(utf8);
}

} // namespace

QString title(Id id, bool chinese)
{
    const Notice& n = notice(id);
    // The file notices' titles go through the translation function too.
    const bool fileNotice = id >= Id::PathEmpty && id <= Id::LowerVersion;
    return shown(chinese ? n.chinese.title : n.english.title, n.translated || fileNotice);
}

QString text(Id id, bool chinese)
{
    const Notice& n = notice(id);
    return shown(chinese ? n.chinese.text : n.english.text, n.translated);
}

QString completionButton(bool chinese)
{
    return QString::fromUtf8(completionButtonText(chinese));
}

} // namespace notices
