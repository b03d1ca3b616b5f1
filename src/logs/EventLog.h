#pragma once
// The instrument's event log: alarms going on and off and the instrument
// switched on and off, each with its time, the gas values of the moment and
// the battery charge.
//
// Object 35 (event properties) holds the log's counters and is written by
// "Clear"; object 34 (event record) returns one event per request. This file
// has the payloads, the table a download fills and the lines of the export
// file; EventLogJobs.h has the download and the clear as jobs on the
// instrument connection.
#include "DecodeAnswer.h"
#include "NumberInput.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace r310::logs {

// Payload bytes of object 35 as read, and as "Clear" writes it.
constexpr int kEventPropertiesSize = 8;
constexpr int kEventClearSize = 12;
// Payload bytes of an object-34 answer that carry the event.
constexpr int kEventRecordSize = 18;
// Payload of an object-34 request: the 1-based event number.
constexpr int kEventSelectorSize = 2;

// The maximum number of events "Clear" sends to instruments before 2.11,
// whose maximum cannot be chosen.
constexpr std::uint16_t kFixedMaxEvents = 192;
// The range of maximum numbers of events "Clear" sends. Zero would leave the
// instrument no room; the upper end is the event log's size in the product
// (513 events), the most a log of this instrument family holds.
constexpr int kMinMaxEvents = 1;
constexpr int kMaxMaxEvents = 513;

// Decimals of an event's gas values come from its exponent; an exponent
// beyond this (a damaged record: -128 would ask for 128 decimals) shows this
// many, as in the data logger export.
constexpr int kMaxEventValueDecimals = 9;

// The four counters of object 35, in payload order.
struct EventProperties {
    std::uint16_t position = 0;     // "Event Actuell" (Edit1)
    std::uint16_t count = 0;        // "Event Count" (Edit2): the download reads this many
    std::uint16_t thirdCounter = 0; // Edit8, no caption
    std::uint16_t maxEvents = 0;    // "Max Events" (Edit9)
};

// The counters of a data answer of object 35; empty for anything else and
// for a payload shorter than 8 bytes.
std::optional<EventProperties> DecodeEventProperties(const AnswerFrame &frame);

// The texts of Edit1, Edit2, Edit8 and Edit9: plain decimals.
struct EventPropertiesTexts {
    QString position;
    QString count;
    QString thirdCounter;
    QString maxEvents;
};
EventPropertiesTexts EventPropertiesText(const EventProperties &properties);

// The 12 bytes "Clear" writes: zeros, the maximum at bytes 6 and 7, zeros.
std::array<std::uint8_t, kEventClearSize> EventClearPayload(std::uint16_t maxEvents);

// The maximum number of events "Clear" sends: from 2.11 on the number typed
// in "Max Events" (Edit9), within kMinMaxEvents to kMaxMaxEvents; before
// 2.11 always 192, whatever the field shows. A refusal carries the message
// to show ("'abc' is not a valid integer value", or the field and the range);
// nothing may be sent then. `field` names the input in the range message.
Conversion<std::uint16_t> MaxEventsToSend(const QString &field, const QString &text,
                                          std::int32_t softwareVersion, const QLocale &locale);

// One stored event: the first 18 payload bytes of its object-34 answer.
using EventRecordBytes = std::array<std::uint8_t, kEventRecordSize>;

// The events of one download, entry j holding event number j + 1. Sized from
// the count the instrument reports, so no count can reach beyond it. Every
// entry starts empty: an event that could not be read stays empty and never
// shows what an earlier download (or another instrument) left behind.
class EventTable {
public:
    // The most events a download can ask for: the request's 16-bit number.
    static constexpr int kMaxEntries = 65535;

    // count entries (at most kMaxEntries), all empty.
    void Prepare(int count);
    int size() const { return static_cast<int>(entries_.size()); }

    // Takes the event of an object-34 data answer into entry `index`. False
    // (and the entry left empty) for an index outside the table, another
    // object or a payload shorter than an event.
    bool Fill(int index, const AnswerFrame &frame);
    // Empties entry `index` (nothing for an index outside the table).
    void Empty(int index);
    // Sets entry `index` to an entry of another table (nothing outside the table).
    void Take(int index, const std::optional<EventRecordBytes> &entry);
    const std::optional<EventRecordBytes> &at(int index) const { return entries_.at(static_cast<std::size_t>(index)); }

    int filledCount() const;
    // Indices (the "No" column) of the entries that stayed empty.
    std::vector<int> MissingIndices() const;

private:
    std::vector<std::optional<EventRecordBytes>> entries_;
};

// What the lines need besides the events: the user's regional settings and
// the gas table (unit text, one blank, gas name).
struct EventLineFormat {
    QLocale locale;
    GasTextLookup gasTexts;
};

// The export file's first line; it has no trailing ";".
extern const QString kEventHeaderLine;

// The text of an event type: "A1 ON" to "A5 ON" for 1 to 5, "A1 OFF" to
// "A5 OFF" for 9 to 13, "Dev-ON" for 19, "Dev-OFF" for 20; empty for any
// other type.
QString EventTypeText(std::uint8_t type);

// Decimals of a gas value with exponent e: -e for a negative e, else 0, and
// at most kMaxEventValueDecimals.
int EventValueDecimals(std::int8_t e);

// Appends the line of one event to `lines`, the header line first when
// `lines` is still empty. lineNumber is the "No" column (the entry's index).
void FormatEventLine(const EventRecordBytes &event, QStringList &lines, int lineNumber,
                     const EventLineFormat &format);

// The export file's lines: the header and one line for every event read, in
// table order. Entries that stayed empty have no line; their "No" is missing
// from the column.
QStringList EventExportLines(const EventTable &table, const EventLineFormat &format);

// "Evt" + the instrument's serial number + "_" + the date: Evt00001234_20081224.
// Characters that do not belong in a file name are left out of the serial number.
QString ProposedEventFileName(const QString &serialNumberText, const QDate &date);

// "3 of 120 events could not be read and are not in the file: No 4, 16, 79."
// At most `listed` numbers are named, then "and 3 more".
QString MissingEventsText(const std::vector<int> &missing, int count, int listed = 20);

} // namespace r310::logs
