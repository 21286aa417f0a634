// The Qt side of the FTP client: its trace goes to the debug log, and the
// window's texts arrive as QString.
#include "online/ftpclient.h"

#include <QDebug>
#include <QString>

void ftpTrace(const std::string& text)
{
    // Exactly as it stands: no quotes, no added blanks, "%" is plain text.
    qDebug().noquote().nospace() << QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

int FtpClient::SetServerInfo(const QString& ip, const QString& user, const QString& pass, int port)
{
    return SetServerInfo(ip.toUtf8().toStdString(), user.toUtf8().toStdString(), pass.toUtf8().toStdString(),
                         port);
}
