// One device's link: its read and write handles, its capabilities, the
// reader that hears it and the writes that reach it. Every road opens,
// reads and writes a device through this one type.
//
// Writes go one of two ways, chosen by whoever creates the link:
// - on the calling thread (the window): writeNow() blocks in the feature
//   write, with the send latch: a write the device refused leaves the latch
//   set and nothing more goes out until the link is opened again;
// - through a writer thread of the link's own (the cli, the station):
//   enqueue() hands the frame over and returns; a device slow to take its
//   writes delays only its own frames, and msToStall() tells a write that
//   has run past a deadline. The writer wakes once per frame queued and
//   sleeps with no time-out while there is nothing to write. After a refused write nothing more goes
//   out either.
// Both put exactly the device's feature report length on the wire
// (usb/featurereport.h).
//
// Readers: the window's is a USBThread posting USBEvents to a receiver
// (startPostingReader/stopPostingReader, with its stop and restart rules);
// a session without a window has a plain thread sleeping in the blocking
// read that hands each report to its owner's thread (startBlockingReader).
#pragma once

#include "usb/hidplatform.h"
#include "usb/linkstate.h"

#include <QByteArray>
#include <QObject>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace session {

enum class WriteMode { CallingThread, WriterThread };

class Link {
public:
    // `handles`: where the handles live (the process-wide link for the
    // window); null: the link's own. `platform`: null for the process's.
    explicit Link(WriteMode mode, LinkHandles* handles = nullptr, HidPlatform* platform = nullptr);
    ~Link();
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    LinkHandles& handles() { return *handles_; }
    const LinkHandles& handles() const { return *handles_; }
    HidPlatform* platform() const;
    WriteMode mode() const { return mode_; }

    // The device was found and opened (the window's MyDevFound).
    bool found = false;

    // Opens `path` for reading and for writing and reads the device's
    // capabilities, from the write handle or else the read handle (a failed
    // read leaves them as they were). A link with a writer thread starts it.
    // True when both handles opened; either may be open on false.
    bool open(const std::string& path);
    // Closes the handles (ending the blocking reader's read) and ends the
    // writer. A write in progress is given a moment, none when
    // `abandonWrite`: a write that hangs in the device is left to its
    // thread, which ends when the write returns.
    void close(bool abandonWrite = false);
    // Closes the write handle only (a device that has gone).
    void closeWrite();

    // On the calling thread: -1 nothing written (no write handle, or the
    // latch is set), 0 the device refused it (the latch stays set), 1
    // written.
    int writeNow(const std::uint8_t* frame, std::size_t frameSize);
    // Through the writer thread: false when nothing goes out any more (no
    // writer, or a write was refused).
    bool enqueue(const std::uint8_t* frame, std::size_t frameSize);
    // The writer thread runs (the link is open for writing through it).
    bool writing() const { return bool(writer_); }
    // Every frame handed over is on the wire (or was refused).
    bool allWritten() const;
    bool anyRefused() const;
    // For a deadline on each write without polling: how long until the
    // write in progress has run for `deadlineMs`; 0 it has (it stalled),
    // `deadlineMs` for a frame queued whose write has not begun, -1 nothing
    // to write. A check after that many milliseconds either finds the
    // stall or learns when to look again.
    int msToStall(int deadlineMs) const;

    // The window's reader: a USBThread for the read handle posting to
    // `receiver`, made currentReader, enabled and started. Never two.
    void startPostingReader(QObject* receiver);
    // Stops currentReader, closes the read handle, waits for the thread and
    // releases it (a thread that does not end in time deletes itself later).
    void stopPostingReader();

    // A plain reader thread for the read handle: each report, cut to a
    // bound, goes to `onReport` and the read's end (handle closed, device
    // gone) to `onEnded`, both queued to `context`'s thread.
    void startBlockingReader(QObject* context, std::function<void(const QByteArray&)> onReport,
                             std::function<void()> onEnded);

private:
    struct Writer;
    void startWriter();
    void endWriter(bool abandonWrite);

    WriteMode mode_;
    LinkHandles own_;
    LinkHandles* handles_;
    HidPlatform* platform_;
    std::size_t inputLength_ = 0; // set when the link opens
    std::shared_ptr<Writer> writer_;
    std::thread writerThread_;
    std::thread reader_;
};

} // namespace session
