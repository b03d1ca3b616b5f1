// r310ctl's `set KEY=VALUE ...` parser fed arbitrary words, and what `set`
// does with the words it accepts short of the wire: the groups they touch
// read from arbitrary payloads, the values applied, the payloads of the
// writes built, and the read-back of an instrument that took them.
//
// Input: the software version (2 bytes), the payloads the instrument
// reports for the alarm limits (29 bytes), signals (16), hardware (10) and
// identity (21), then the command line's words as UTF-8, one per line.
//
// Checked: the parser accepts words or says why not, never both; every
// accepted word has its key and a value its key's check takes; each touched
// group takes its payload; and the same words applied again to an
// instrument that took the write leave it showing the same settings.
#include "FuzzInput.h"

#include <DecodedValues.h>
#include <SettingsKeys.h>

#include <QStringList>

#include <map>

namespace {

using namespace r310;
using r310::fuzz::FuzzInput;

using Payloads = std::map<std::uint8_t, std::vector<std::uint8_t>>;

Payloads ReadPayloads(FuzzInput &input)
{
    Payloads payloads;
    for (const std::uint8_t object : {kObjectRange, kObjectSignals, kObjectHardware, kObjectIdentity})
        payloads[object] = input.padded(static_cast<std::size_t>(ObjectPayloadSize(object)));
    return payloads;
}

// The instrument as it would be after taking the write, read back into a draft.
SettingsDraft ReadBackAfterWrite(const SettingsDraft &before, const SettingsGroupCommand &group,
                                 const std::vector<std::uint8_t> &sent, const std::vector<std::uint8_t> &read)
{
    SettingsDraft held = before;
    FUZZ_CHECK(held.Take(group.object, WrittenObject(group, sent, read)));
    return held;
}

void ApplyAndWrite(std::int32_t softwareVersion, const Payloads &payloads,
                   const std::vector<SettingAssignment> &assignments)
{
    const std::vector<const SettingsGroupCommand *> groups = TouchedGroups(assignments);
    FUZZ_CHECK(!groups.empty());
    SettingsDraft draft = SettingsDraft::FromDecoded(softwareVersion, nullptr, nullptr, nullptr);
    for (const SettingsGroupCommand *group : groups)
        FUZZ_CHECK(draft.Take(group->object, payloads.at(group->object)));
    const SettingsDraft asRead = draft;
    if (!ApplySettingAssignments(draft, assignments).isEmpty())
        return;
    for (const SettingsGroupCommand *group : groups) {
        const SettingsPayload payload = group->payload(draft);
        if (!payload.ok())
            continue;
        FUZZ_CHECK(payload.bytes.size() <= static_cast<std::size_t>(kMaxPayload));
        // The same command again, on the instrument that took the first:
        // `set` is declarative, so the instrument then shows the same.
        const std::vector<std::uint8_t> &read = payloads.at(group->object);
        const SettingsDraft held = ReadBackAfterWrite(asRead, *group, payload.bytes, read);
        SettingsDraft again = held;
        FUZZ_CHECK(ApplySettingAssignments(again, assignments).isEmpty());
        const SettingsPayload second = group->payload(again);
        FUZZ_CHECK(second.ok());
        const SettingsDraft heldAgain =
            ReadBackAfterWrite(held, *group, second.bytes, WrittenObject(*group, payload.bytes, read));
        FUZZ_CHECK(DifferingSettings(group->group, held, heldAgain).empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::int32_t softwareVersion = input.u16();
    const Payloads payloads = ReadPayloads(input);
    const QStringList words = QString::fromUtf8(input.restAsBytes()).split(u'\n');

    QString refusal;
    const std::vector<SettingAssignment> assignments = ParseSettingAssignments(words, &refusal);
    FUZZ_CHECK(assignments.empty() != refusal.isEmpty());
    for (const SettingAssignment &assignment : assignments) {
        FUZZ_CHECK(assignment.key != nullptr);
        FUZZ_CHECK(assignment.key->check(assignment.value).isEmpty());
    }
    if (!assignments.empty())
        ApplyAndWrite(softwareVersion, payloads, assignments);
    return 0;
}
