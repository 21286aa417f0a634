#include "core/language.h"

#include <atomic>

namespace {
std::atomic<int> g_override{QLocale::AnyLanguage};
}

QLocale::Language systemLanguage()
{
    const int pinned = g_override.load();
    if (pinned != QLocale::AnyLanguage)
        return static_cast<QLocale::Language>(pinned);
    return QLocale::system().language();
}

bool systemIsChinese()
{
    return systemLanguage() == QLocale::Chinese;
}

void setLanguageOverride(QLocale::Language language)
{
    g_override.store(language);
}
