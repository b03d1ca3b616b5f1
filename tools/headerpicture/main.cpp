// headerpicture OUTPUT.jpg: draws the instrument and writes the header picture,
// sealed with the check sum the configurator verifies when it loads it.
#include "InstrumentDrawing.h"
#include "JpegPicture.h"
#include "JpegWriter.h"

#include <QBuffer>
#include <QFile>
#include <QString>

#include <cstdio>

namespace {

constexpr int kQuality = 92; // no visible artefacts around the outlines

int Usage()
{
    std::fputs("usage: headerpicture OUTPUT.jpg\n"
               "Draws the R310 for the configurator's header and writes it as JPEG.\n",
               stderr);
    return 2;
}

int Failure(const char *path, const QString &why)
{
    std::fprintf(stderr, "headerpicture: %s: %s\n", path, qPrintable(why));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2 || argv[1][0] == '-')
        return Usage();
    QBuffer encoded;
    encoded.open(QIODevice::WriteOnly);
    QString error;
    if (!WriteJpeg(DrawInstrument(), encoded, kQuality, &error))
        return Failure(argv[1], error);

    QFile out(QString::fromLocal8Bit(argv[1]));
    const QByteArray sealed = SealJpegPicture(encoded.data());
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(sealed) != sealed.size() ||
        !out.flush()) {
        const QString why = out.errorString();
        out.remove();
        return Failure(argv[1], why);
    }
    return 0;
}
