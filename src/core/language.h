// The language rule: Chinese when the system locale's language is Chinese,
// English for every other language; decided anew at each use.
#pragma once

#include <QLocale>

QLocale::Language systemLanguage();
bool systemIsChinese();

// Tests may pin the language for the process; QLocale::AnyLanguage (0)
// returns to the system locale.
void setLanguageOverride(QLocale::Language language);
