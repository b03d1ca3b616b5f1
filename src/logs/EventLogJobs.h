#pragma once
// The event log's exchanges, as jobs on the instrument connection: the
// download of every event ("Read") and the emptying of the log ("Clear").
//
// A job hands its outcome back through a result object it shares with the
// front end; the front end reads it when the job has ended. The download formats
// the export lines on the engine with the connection's regional settings and
// gas table, the same that made the window's date and value texts, so the
// window and r310ctl get the same lines; the front end writes the file.
#include "EventLog.h"

#include <InstrumentConnection.h>

#include <QStringList>

#include <memory>
#include <vector>

namespace r310::logs {

// The decoder branches of objects 34 and 35. The counters of object 35 reach
// the front ends with the answer (DecodeEventProperties); an object-34 answer
// goes into the event table of the download that asked for it.
void InstallEventLogDecoders(AnswerDecoder &decoder);

// While it lives, the decoder's object-34 branch stores each answer into one
// entry of `table`: the entry named by Expect(), emptied at that moment. An
// answer that comes when no entry is expected is dropped. The plain branch
// comes back when it ends.
class EventCapture {
public:
    EventCapture(AnswerDecoder &decoder, EventTable &table);
    ~EventCapture();
    EventCapture(const EventCapture &) = delete;
    EventCapture &operator=(const EventCapture &) = delete;

    void Expect(int index);
    // The expected entry was filled since Expect().
    bool Stored() const;

private:
    struct State;
    AnswerDecoder &decoder_;
    std::shared_ptr<State> state_;
};

struct EventRead {
    Outcome outcome = Outcome::NoAnswer;
    // The request went out more than once, or its answer never came: an
    // answer to it may still arrive and must not be taken for the next event.
    bool answerMayFollow = false;
};

// Reads event `number` (1-based) into entry number - 1 of the capture's
// table: select-read request of object 34, then the decoder. On failure the
// lamp turns red.
EventRead ReadEventRecord(JobContext &job, std::uint16_t number, EventCapture &capture);

// A download stops after this many exchanges in a row went unanswered (the
// event reads and the counter reads between them): the line or the
// instrument is gone.
constexpr int kMaxConsecutiveUnanswered = 3;

struct EventDownload {
    // Filled by the job; read by the front end when the job has ended.
    // Done: every event was asked for. Cancelled: "&Close Comport", closing
    // the window, Ctrl+C. LineLost: kMaxConsecutiveUnanswered exchanges in a
    // row went unanswered; Damaged when the last of them brought answers with
    // a wrong checksum, not silence. PortClosed: the port was not open.
    Outcome outcome = Outcome::Cancelled;
    int count = 0;        // events asked for
    int lastAsked = 0;    // number of the last event asked for
    EventTable table;
    // Only for a complete download: the header and a line per event read.
    QStringList lines;
    // Entries ("No") left empty in a complete download.
    std::vector<int> missing;
    // Some events were refused by the instrument (error report).
    bool refusals = false;
    // Events 1 to onRecord were taken from the records, not read.
    int onRecord = 0;
    // Why every event was read although some were on record; empty otherwise.
    QString readAllBecause;
};

// Downloads events 1 to count (at most EventTable::kMaxEntries), reporting
// progress as "Reading event n of count". A count of 0 or less asks for
// nothing. After a read that may leave an answer on its way, the counters
// (object 35) are read, which lets that answer pass before the next event.
// Given the events on record of this instrument (the last download's table,
// complete or stopped), it reads event 1 and the newest one on record; when
// both still match, it takes the events up to that one from the records and
// reads only those after it ("... — 187 already on record"). The table is
// the whole log either way. After a stop the table holds what was read.
ConnectionJob EventDownloadJob(int count, std::shared_ptr<EventDownload> result,
                               std::shared_ptr<const EventTable> onRecord = nullptr);

struct EventClear {
    std::uint16_t maxEvents = 0; // what was sent
    bool written = false;        // the write was answered
    bool refused = false;        // ... with an error report
    bool readBack = false;       // the counters were read back
    std::optional<EventProperties> properties; // as read back
};

// "Clear": writes object 35 with the maximum number of events (checked by
// MaxEventsToSend before), reads the counters back, then the data logger's
// counters. A failed exchange turns the lamp red and ends the job.
ConnectionJob EventClearJob(std::uint16_t maxEvents, std::shared_ptr<EventClear> result);

} // namespace r310::logs
