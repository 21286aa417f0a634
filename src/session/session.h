// One device's upgrade: the upgrade engine with the image it writes, the
// device's link (session/link.h) and the stage ticks' state. Every road
// drives a device through one: the window's session writes on the GUI
// thread into the process-wide link; the cli's and the station's
// (cli/devicesession.h builds on this type) write through a writer thread
// of their own, on handles of their own.
//
// The engine's actions are carried out into a sink the owner gives (the
// window's form, the cli's records); its frames come back to write(),
// which writes them the session's way.
#pragma once

#include "session/link.h"
#include "upgrade/engine.h"
#include "upgrade/notices.h"

#include <QObject>
#include <QString>

namespace session {

class Session : public QObject {
    Q_OBJECT
public:
    // `handles`: the process-wide link for the window's session; null: the
    // session's own. `platform`: null for the process's.
    Session(WriteMode mode, LinkHandles* handles = nullptr, HidPlatform* platform = nullptr,
            QObject* parent = nullptr);
    ~Session() override;

    // Declared first: the window's members refer into it from its start.
    upgrade::Engine engine;

    Link& link() { return link_; }
    const Link& link() const { return link_; }

    // One frame to the device, the session's way. On the calling thread:
    // -1 not written (no device found, no write handle: each with its
    // notice; or the send latch is set), 0 the device refused it, 1
    // written. Through the writer: 1 handed over, -1 nothing goes out any
    // more.
    int write(const std::uint8_t* frame);
    int write(const frames::Frame& frame) { return write(frame.data()); }

    // Carries the engine's actions out into `sink`, or into the sink the
    // owner set (a session ticked by a SessionTicker carries its ticks there).
    void carry(const upgrade::Actions& actions, upgrade::Sink& sink) { engine.carry(actions, sink); }
    void carry(const upgrade::Actions& actions);
    void setSink(upgrade::Sink* sink) { sink_ = sink; }

    // The stages' 2 ms ticks of a session ticked by a shared timer
    // (session/ticker.h), which ticks it while ticking() holds.
    bool dspTicking = false;
    bool armTicking = false;
    bool ticking() const { return !done() && (dspTicking || armTicking); }
    // One tick of that timer: the running stages' ticks, carried out.
    void tick();

    int status() const { return status_; } // -1 while running
    bool done() const { return status_ >= 0; }
    // Ends the run with `status` once: the stage ticks stop, the link
    // closes (a hanging write is left to its thread after a stall when
    // `abandonWrite`). False when the run had ended already. The owner then
    // emits finished().
    bool end(int status, bool abandonWrite = false);

signals:
    void progress(qint64 bytes, qint64 total);
    // A notice of the run, by identity, with the status it leads to (-1:
    // the run goes on).
    void notice(notices::Id id, int status);
    // What went wrong, for people: the path or peer and the reason.
    void detail(const QString& text);
    void finished(int status);

private:
    Link link_;
    upgrade::Sink* sink_ = nullptr;
    int status_ = -1;
};

} // namespace session
