#include "cli/eventlog.h"

#include "cli/exitstatus.h"
#include "image/firmwareimage.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>

#include <algorithm>

namespace cli {

bool EventLog::openLog(const QString& path, QString* error)
{
    log_.setFileName(path);
    if (!log_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        *error = QStringLiteral("cannot append to the log %1: %2").arg(path, log_.errorString());
        return false;
    }
    return true;
}

void EventLog::write(const QJsonObject& record)
{
    if (!enabled())
        return;
    QJsonObject full = context_;
    full.insert(QStringLiteral("time"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    for (auto it = record.begin(); it != record.end(); ++it)
        full.insert(it.key(), it.value());
    writeAsIs(full);
}

void EventLog::writeAsIs(const QJsonObject& record)
{
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    if (out_) {
        std::fwrite(line.constData(), 1, std::size_t(line.size()), out_);
        std::fflush(out_);
    }
    if (log_.isOpen()) {
        // One write per record, flushed at once: a record is never split,
        // and a crash loses nothing already reported.
        log_.write(line);
        log_.flush();
    }
}

QJsonObject resultRecord(const ResultFacts& f)
{
    auto orNull = [](qint64 n) { return n < 0 ? QJsonValue() : QJsonValue(n); };
    auto text = [](const QString& t) { return t.isEmpty() ? QJsonValue() : QJsonValue(t); };
    QJsonObject r{
        {"event", "result"},
        {"image", text(f.image)},
        {"firmware_before", orNull(f.firmwareBefore)},
        {"duration_s", f.seconds},
        {"transfer_s", f.transferMs < 0 ? QJsonValue() : QJsonValue(f.transferMs / 1000.0)},
        {"status", f.status},
        {"outcome", f.check && f.status == Success
                        ? QStringLiteral("every check passed: the image would be written (nothing written)")
                        : statusMeaning(f.status)},
        {"error", text(f.error)}};
    if (f.check)
        r.insert("check", true);
    // The version only of a file that is an image: any 16 bytes parse as a header.
    fwimage::Header header;
    const bool image = f.bytes && fwimage::checkImage(*f.bytes) == fwimage::Check::Ok &&
                       fwimage::parseHeader(*f.bytes, &header);
    r.insert("image_version", image ? QJsonValue(qint64(header.version)) : QJsonValue());
    r.insert("image_sha256",
             f.bytes ? QJsonValue(QString::fromLatin1(
                           QCryptographicHash::hash(*f.bytes, QCryptographicHash::Sha256).toHex()))
                     : QJsonValue());
    // What the device runs afterwards is known only when it was asked.
    if (f.confirmAsked) {
        r.insert("confirmed", f.firmwareAfter >= 0 && f.bytes && fwimage::parseHeader(*f.bytes, &header) &&
                                  f.firmwareAfter == int(std::uint16_t(header.version)));
        r.insert("firmware_after", orNull(f.firmwareAfter));
    } else if (f.firmwareAfter >= 0) {
        r.insert("firmware_after", f.firmwareAfter);
    }
    return r;
}

QString progressLine(qint64 bytes, qint64 total, qint64 elapsedMs, int barWidth)
{
    if (total <= 0)
        return QStringLiteral("[%1]").arg(QString(barWidth, QLatin1Char('.')));
    bytes = std::clamp<qint64>(bytes, 0, total);
    const int filled = int(bytes * barWidth / total);
    const int percent = int(bytes * 100 / total);
    QString eta = QStringLiteral("ETA --");
    if (bytes > 0 && elapsedMs > 0) {
        const qint64 leftMs = (total - bytes) * elapsedMs / bytes;
        eta = QStringLiteral("ETA %1 s").arg((leftMs + 999) / 1000);
    }
    return QStringLiteral("[%1%2] %3%  %4/%5 B  %6")
        .arg(QString(filled, QLatin1Char('#')), QString(barWidth - filled, QLatin1Char('.')))
        .arg(percent, 3)
        .arg(bytes)
        .arg(total)
        .arg(eta);
}

} // namespace cli
