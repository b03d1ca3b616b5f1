// r310ctl certificate: a calibration certificate, one A4 page of PDF,
// printed from the service records.
#include "ExitCodes.h"
#include "Subcommands.h"

#include <Certificate.h>
#include <Paper.h>

namespace r310::cli {

const char *const kCertificateHelp = R"(Usage: r310ctl [--records URL] certificate SERIAL [--calibration ID] [--technician NAME] --out FILE.pdf

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
"records history SERIAL" shows it). The technician is NAME, else the name
set in the window's settings, else the operating-system user.

Exit codes: 0 written; 1 the records cannot be read; 2 the instrument or
the calibration is not on record; 9 the file cannot be written.
)";

int RunCertificate(CtlContext &context)
{
    const CtlOptions &o = context.options;
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
