#include "JpegWriter.h"

#include <QIODevice>
#include <QImage>

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace {

constexpr int kMaxSide = 65500; // the largest side a JPEG frame header can carry

// Everything libjpeg touches while compressing. It holds only plain data, so
// the longjmp out of a libjpeg error skips no destructor.
struct EncodeSession {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    jpeg_destination_mgr destination;
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
    unsigned char chunk[4096];
    QIODevice *out;
};

EncodeSession &SessionOf(j_common_ptr common)
{
    return *static_cast<EncodeSession *>(common->client_data);
}

[[noreturn]] void Fail(EncodeSession &session, const char *why)
{
    std::snprintf(session.message, sizeof session.message, "%s", why);
    std::longjmp(session.escape, 1);
}

// Replaces libjpeg's default, which would end the program.
[[noreturn]] void OnError(j_common_ptr common)
{
    EncodeSession &session = SessionOf(common);
    common->err->format_message(common, session.message);
    std::longjmp(session.escape, 1);
}

void OnMessage(j_common_ptr common, int level)
{
    if (level < 0) // the compressor warns only when it cannot do what was asked
        OnError(common);
}

void OnOutputMessage(j_common_ptr) {}

void StartChunk(EncodeSession &session)
{
    session.destination.next_output_byte = session.chunk;
    session.destination.free_in_buffer = sizeof session.chunk;
}

void InitDestination(j_compress_ptr info)
{
    StartChunk(SessionOf(reinterpret_cast<j_common_ptr>(info)));
}

void WriteOut(EncodeSession &session, std::size_t count)
{
    const auto size = static_cast<qint64>(count);
    if (session.out->write(reinterpret_cast<const char *>(session.chunk), size) != size)
        Fail(session, "the output could not be written");
}

boolean EmptyDestination(j_compress_ptr info)
{
    EncodeSession &session = SessionOf(reinterpret_cast<j_common_ptr>(info));
    WriteOut(session, sizeof session.chunk);
    StartChunk(session);
    return TRUE;
}

void TermDestination(j_compress_ptr info)
{
    EncodeSession &session = SessionOf(reinterpret_cast<j_common_ptr>(info));
    WriteOut(session, sizeof session.chunk - session.destination.free_in_buffer);
}

J_COLOR_SPACE ColourSpaceOf(int components)
{
    switch (components) {
    case 1: return JCS_GRAYSCALE;
    case 4: return JCS_CMYK;
    default: return JCS_RGB;
    }
}

// The libjpeg part: plain data in, compressed bytes out through the session.
// Returns false with session.message filled when libjpeg gave up.
bool Compress(EncodeSession &session, const JpegRaster &raster, int quality)
{
    if (setjmp(session.escape))
        return false;
    jpeg_create_compress(&session.info);
    session.info.dest = &session.destination;
    session.info.image_width = static_cast<JDIMENSION>(raster.width);
    session.info.image_height = static_cast<JDIMENSION>(raster.height);
    session.info.input_components = raster.components;
    session.info.in_color_space = ColourSpaceOf(raster.components);
    jpeg_set_defaults(&session.info);
    jpeg_set_quality(&session.info, quality, TRUE);
    // Full colour resolution keeps the thin outlines of a small drawing crisp.
    for (int i = 0; i < session.info.num_components; ++i) {
        session.info.comp_info[i].h_samp_factor = 1;
        session.info.comp_info[i].v_samp_factor = 1;
    }
    session.info.optimize_coding = TRUE;
    // A restart marker after every row of blocks lets a reader notice damage
    // where it happens instead of decoding garbage to the end.
    session.info.restart_in_rows = 1;
    jpeg_start_compress(&session.info, TRUE);
    while (session.info.next_scanline < session.info.image_height) {
        // libjpeg reads the rows only; its row type just lacks the const.
        JSAMPROW row = const_cast<JSAMPROW>(raster.pixels) +
                       static_cast<std::size_t>(session.info.next_scanline) *
                           static_cast<std::size_t>(raster.bytesPerLine);
        jpeg_write_scanlines(&session.info, &row, 1);
    }
    jpeg_finish_compress(&session.info);
    return true;
}

// Releases libjpeg's memory on every way out, also after an error.
class CompressorRelease {
public:
    explicit CompressorRelease(EncodeSession &session) : m_session(session) {}
    ~CompressorRelease() { jpeg_destroy_compress(&m_session.info); }
    CompressorRelease(const CompressorRelease &) = delete;
    CompressorRelease &operator=(const CompressorRelease &) = delete;

private:
    EncodeSession &m_session;
};

QString CheckRaster(const JpegRaster &raster, int quality)
{
    if (raster.components != 1 && raster.components != 3 && raster.components != 4)
        return QStringLiteral("%1 bytes per pixel cannot be written").arg(raster.components);
    if (raster.width < 1 || raster.height < 1 || raster.width > kMaxSide || raster.height > kMaxSide)
        return QStringLiteral("a JPEG cannot be %1 × %2 pixels").arg(raster.width).arg(raster.height);
    if (!raster.pixels || raster.bytesPerLine < raster.width * raster.components)
        return QStringLiteral("the pixel rows are missing or too short");
    if (quality < 1 || quality > 100)
        return QStringLiteral("quality %1 is outside 1..100").arg(quality);
    return {};
}

bool Refuse(const QString &why, QString *error)
{
    if (error)
        *error = why;
    return false;
}

} // namespace

bool WriteJpeg(const JpegRaster &raster, QIODevice &out, int quality, QString *error)
{
    const QString problem = CheckRaster(raster, quality);
    if (!problem.isEmpty())
        return Refuse(problem, error);

    EncodeSession session{};
    session.out = &out;
    session.info.client_data = &session;
    session.info.err = jpeg_std_error(&session.errors);
    session.errors.error_exit = OnError;
    session.errors.emit_message = OnMessage;
    session.errors.output_message = OnOutputMessage;
    session.destination.init_destination = InitDestination;
    session.destination.empty_output_buffer = EmptyDestination;
    session.destination.term_destination = TermDestination;
    const CompressorRelease release(session);
    if (!Compress(session, raster, quality))
        return Refuse(QString::fromLocal8Bit(session.message), error);
    return true;
}

bool WriteJpeg(const QImage &image, QIODevice &out, int quality, QString *error)
{
    if (image.isNull())
        return Refuse(QStringLiteral("there is no picture to write"), error);
    const bool grey = image.format() == QImage::Format_Grayscale8;
    const QImage rows = grey ? image : image.convertToFormat(QImage::Format_RGB888);
    JpegRaster raster;
    raster.pixels = rows.constBits();
    raster.width = rows.width();
    raster.height = rows.height();
    raster.bytesPerLine = static_cast<int>(rows.bytesPerLine());
    raster.components = grey ? 1 : 3;
    return WriteJpeg(raster, out, quality, error);
}
