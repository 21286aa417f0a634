#include "app/titles.h"

QString productTitle(int productId, QLocale::Language language)
{
    switch (productId) {
    case 0x0525:
        return QStringLiteral("QVNBOOTLOADER");
    case 0x0524:
        return language == QLocale::English ? QStringLiteral("WheelupdateOffLine")
                                            : QStringLiteral("方向盘离线更新");
    case 0x0523:
        return QStringLiteral("0523");
    default:
        return language == QLocale::Chinese ? QStringLiteral("Q52离线更新")
                                            : QStringLiteral("Q52UpdateOffLine");
    }
}

QString idText(int id)
{
    return QStringLiteral("0") + QString::number(id, 16);
}
