#include "online/serverlayout.h"

namespace {
struct ModelRange {
    int first;
    int last;
    const char* model;
};

constexpr ModelRange kModels[] = {
    {1000, 1999, "KRV1000"}, {2000, 2999, "KRV2000"}, {3000, 3199, "KRV3000"}, {3200, 3399, "KRV3200"},
    {3400, 3599, "KRV3400"}, {3600, 3799, "KRV3600"}, {3800, 3999, "KRV3800"}, {4000, 4999, "KRV4000"},
    {5000, 5999, "KRV5000"}, {6000, 6999, "KRV6000"},
};
} // namespace

QString modelDirectory(int firmwareNumber)
{
    for (const ModelRange& range : kModels) {
        if (firmwareNumber >= range.first && firmwareNumber <= range.last)
            return QString::fromLatin1(range.model);
    }
    return QString();
}

bool isModelDirectory(const QString& name)
{
    for (const ModelRange& range : kModels) {
        if (name == QLatin1String(range.model))
            return true;
    }
    return false;
}

QString versionListPath(const QString& model)
{
    return model + QLatin1Char('/') + model + QStringLiteral(".txt");
}

QString imagePath(const QString& model, const QString& version)
{
    // One pass: a "%" in the version is not taken for a placeholder.
    return QStringLiteral("%1/%2.bin").arg(model, version);
}

QStringList localDirectorySuffixes()
{
    // KRV6000 is left to its first fetch.
    QStringList suffixes{QStringLiteral("/file")};
    for (const ModelRange& range : kModels) {
        if (QLatin1String(range.model) != QLatin1String("KRV6000"))
            suffixes << QStringLiteral("/file/") + QString::fromLatin1(range.model);
    }
    return suffixes;
}

bool isVersionToken(const QString& line)
{
    if (line.isEmpty() || line.size() > kVersionTokenMax)
        return false;
    const auto alphanumeric = [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
               (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
    };
    if (!alphanumeric(line.front()))
        return false;
    for (const QChar c : line) {
        if (!alphanumeric(c) && c != QLatin1Char('.') && c != QLatin1Char('-') && c != QLatin1Char('_'))
            return false;
    }
    return true;
}
