// r310ctl certificate: a calibration certificate, one A4 page of PDF,
// printed from the service records.
#include "ExitCodes.h"
#include "Subcommands.h"

#include <Certificate.h>
#include <Paper.h>
#include <RecordStore.h>

namespace r310::cli {

const char *const kCertificateHelp = R"(Usage: r310ctl [--records URL] certificate SERIAL [--calibration ID] [--technician NAME] --out FILE.pdf
       r310ctl [--records URL] certificate check CODE [--trusted-keys FILE]

Prints the calibration certificate of instrument SERIAL (as "records
instruments" shows it) from the service records: one A4 page of PDF with
a certificate number that the same calibration record always keeps; the
instrument's identity and sensor; gas, unit, measuring range and the alarm
limits in force as last read; the calibration's date and time (UTC), kind,
concentration applied, readings as found and as left, and outcome (passed,
failed or not completed); the test gas cylinder (lot, certified
concentration, balance gas, supplier, expiry) or "test gas not recorded";
the next calibration and bump test due as the instrument holds them; the
technician, workstation and program; and the record's hash, which
"records verify" checks against the record chain.

The latest calibration on record, or the one with record id ID (as
"records history SERIAL" shows it). Everything the certificate prints is
kept in the calibration's record as it was at the calibration, so a
reprint gives the same text; the technician is the one named at the
calibration (NAME applies only to calibrations recorded before that was
kept). The certificate also prints the calibration's chain position, the
records head ("records verify --head" checks it) and a verification code.

check CODE prints the facts of the certificate with that verification code
from the records, and whether its record and chain are intact and signed by
a trusted key (see records verify): exit code 0 when they are, else 10.

Exit codes: 0 written or proven; 1 the records cannot be read; 2 the
instrument or the calibration is not on record; 9 the file cannot be
written; 10 the certificate is not proven.
)";

namespace {

int Check(CtlContext &context, const QString &code)
{
    QString error;
    std::optional<std::vector<records::TrustedKey>> trusted;
    if (!TrustedKeys(context, &trusted, &error))
        return context.Fail(kExitUsage, error);
    int failed = kExitOk;
    std::unique_ptr<records::RecordStore> store = OpenRecordStore(context, &failed);
    if (!store)
        return failed;
    const std::optional<records::CertificateData> certificate = records::CertificateOfCode(*store, code, &error);
    if (!certificate)
        return context.Fail(kExitRecordsTampered, QStringLiteral("certificate check: %1").arg(error));
    for (const records::CertificateSection &section : records::CertificateSections(*certificate)) {
        context.out() << OneLineMessage(section.title) << '\n';
        for (const auto &[label, value] : section.rows)
            context.out() << "  " << OneLineMessage(label) << ": " << OneLineMessage(value) << '\n';
    }
    records::VerifyOptions options;
    options.trusted = trusted;
    options.heads.push_back(*records::ParseChainHead(certificate->head));
    const records::VerifyResult result = store->Verify(options);
    if (!result.ok)
        return context.Fail(kExitRecordsTampered, QStringLiteral("certificate check: %1 is not proven: %2")
                                                      .arg(certificate->number, result.problem));
    if (!trusted)
        return context.Fail(kExitRecordsTampered, QStringLiteral("certificate check: %1 is intact, but no key is "
                                                                 "trusted yet (records trust add)")
                                                      .arg(certificate->number));
    context.out() << OneLineMessage(QStringLiteral("certificate check: %1 is on record, intact and signed by a "
                                                   "trusted key")
                                        .arg(certificate->number))
                  << '\n';
    return kExitOk;
}

} // namespace

int RunCertificate(CtlContext &context)
{
    const CtlOptions &o = context.options;
    if (o.operands.size() == 2 && o.operands.first() == QLatin1String("check"))
        return Check(context, o.operands.at(1));
    if (o.operands.size() != 1 || o.out.isEmpty())
        return context.Fail(kExitUsage, QStringLiteral("certificate needs SERIAL and --out FILE.pdf (see r310ctl "
                                                       "certificate --help)"));
    std::optional<qint64> calibration;
    if (!o.calibration.isEmpty()) {
        bool ok = false;
        calibration = o.calibration.toLongLong(&ok);
        if (!ok)
            return context.Fail(kExitUsage, QStringLiteral("--calibration needs a record id, as records history shows it"));
    }
    int code = kExitOk;
    std::unique_ptr<records::RecordStore> store = OpenRecordStore(context, &code);
    if (!store)
        return code;
    QString error;
    const std::optional<records::CertificateData> certificate = records::CertificateFor(
        *store, records::NormalizedSerial(o.operands.first()), calibration, records::TechnicianName(o.technician), &error);
    if (!certificate)
        return context.Fail(error.contains(QLatin1String("on record")) ? kExitUsage : kExitFailure, error);
    if (!records::SavePdf(records::CertificatePdf(*certificate), o.out, &error))
        return context.Fail(kExitCannotWrite, QStringLiteral("cannot write %1: %2").arg(o.out, error));
    context.out() << "Certificate " << certificate->number << " written to " << o.out << '\n';
    return kExitOk;
}

} // namespace r310::cli
