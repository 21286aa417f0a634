#include "core/terminaltext.h"

namespace terminaltext {

QString printable(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\')
            out += QStringLiteral("\\\\");
        else if (u == '\n')
            out += QStringLiteral("\\n");
        else if (u == '\t')
            out += QStringLiteral("\\t");
        else if (u < 0x20 || u == 0x7f)
            out += QStringLiteral("\\x%1").arg(unsigned(u), 2, 16, QLatin1Char('0'));
        // C1 controls, line separators and the bidirectional overrides.
        else if ((u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029 || (u >= 0x202a && u <= 0x202e) ||
                 (u >= 0x2066 && u <= 0x2069))
            out += QStringLiteral("\\u%1").arg(unsigned(u), 4, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

std::string printable(const std::string& text)
{
    return printable(QString::fromStdString(text)).toStdString();
}

} // namespace terminaltext
