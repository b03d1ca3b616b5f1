#include "EventLogSession.h"

#include "ExitCodes.h"

#include <FeatureGates.h>
#include <Formats.h>

namespace r310::cli {

std::optional<logs::EventProperties> OpenEventLog(InstrumentSession &session, int *code)
{
    // The counters come with the connect sequence's reads of the tab.
    std::optional<logs::EventProperties> properties;
    const QMetaObject::Connection taking =
        QObject::connect(&session.connection(), &InstrumentConnection::answerDecoded, &session,
                         [&properties](const DecodedAnswer &, const AnswerFrame &frame) {
                             if (const auto decoded = logs::DecodeEventProperties(frame))
                                 properties = decoded;
                         });
    *code = session.OpenAndIdentify(InstrumentTab::EventProperties);
    QObject::disconnect(taking);
    if (*code != kExitOk)
        return std::nullopt;
    const std::int32_t version = session.record().SoftwareVersion;
    if (!GatesForVersion(version).eventPropertiesTabVisible) {
        *code = session.Fail(kExitFailure, QStringLiteral("the event log is not available: software version %1 has "
                                                          "none (from %2 on)")
                                               .arg(FormatSoftwareVersion(version),
                                                    FormatSoftwareVersion(kEventPropertiesFromVersion)));
        return std::nullopt;
    }
    if (!properties) {
        *code = session.Aborted() ? session.Verdict(true)
                                  : session.Fail(kExitNoInstrument,
                                                 QStringLiteral("the instrument on %1 did not report its event counters")
                                                     .arg(session.PortLabel()));
    }
    return properties;
}

} // namespace r310::cli
