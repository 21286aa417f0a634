// Machine-readable records of a run: one JSON object per line for every
// event (a device found, progress, a notice, a result), written to standard
// output with --json and appended to the file of --log. Written through
// QJsonDocument, so every text from a device or a file is escaped.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QJsonObject>
#include <QString>

#include <cstdio>

namespace cli {

class EventLog {
public:
    // Records go to `out` (null: nowhere).
    void setOutput(std::FILE* out) { out_ = out; }
    // Appends every record to `path` as well. False, with the reason in
    // `error`, when the file cannot be opened for appending.
    bool openLog(const QString& path, QString* error);
    bool enabled() const { return out_ || log_.isOpen(); }

    // Fields every record carries from now on (the device's path and serial).
    void setContext(const QJsonObject& context) { context_ = context; }

    // Writes `record` with the context and the time ("time", UTC, ms) added;
    // fields of the record win over the context's.
    void write(const QJsonObject& record);
    // Writes a record as it came, without context or time (one a child
    // process wrote, passed on by the station).
    void writeAsIs(const QJsonObject& record);

private:
    std::FILE* out_ = nullptr;
    QFile log_;
    QJsonObject context_;
};

// What a device's "result" record says: the one record every road writes
// when a device's run ends.
struct ResultFacts {
    QString image;                     // the image file given; empty: none
    const QByteArray* bytes = nullptr; // its bytes as read: version and SHA-256 come from these
    int firmwareBefore = -1;           // from the version reply; -1: none came
    bool confirmAsked = false;         // --confirm: the device was waited for after the run
    int firmwareAfter = -1;            // only when the device was asked after the run
    double seconds = 0;                // the whole run
    qint64 transferMs = -1;            // from the first frame of the image; -1: none went out
    int status = 0;
    bool check = false; // --check: nothing was written; status says what a real run would end with
    QString error; // what failed before any device ran (the command line, the image, the log); empty: none
};
QJsonObject resultRecord(const ResultFacts& facts);

// A progress line for a terminal: a bar, the percentage, the bytes and the
// estimated time left from the rate so far, such as
// "[##########..........]  50%  32768/65536 B  ETA 8 s".
QString progressLine(qint64 bytes, qint64 total, qint64 elapsedMs, int barWidth = 24);

} // namespace cli
