// The language rule: Chinese when the system locale's language is Chinese,
// English for every other language; decided anew at each use.
#pragma once

#include <QLocale>

QLocale::Language systemLanguage();
bool systemIsChinese();
// Tests and tools pin the language through ScopedServices::language
// (core/services.h).
