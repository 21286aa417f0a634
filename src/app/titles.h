// Texts derived from the product and vendor ids.
#pragma once

#include <QLocale>
#include <QString>

// The window title for a product id in a given language.
QString productTitle(int productId, QLocale::Language language);

// An id as the text device paths carry: lower-case hexadecimal without
// leading zeros, with one "0" in front (0x0483 gives "0483").
QString idText(int id);
