#include "JpegPicture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <csetjmp>
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

namespace {

// Far above any picture of ours at 4096 × 4096, far below what hurts.
constexpr qint64 kMaxFileBytes = 32 * 1024 * 1024;
// A progressive picture needs about ten scans; thousands only burn time.
constexpr int kMaxScans = 100;

// Everything libjpeg touches while decoding. It holds only plain data, so the
// longjmp out of a libjpeg error skips no destructor. The decoding functions
// below keep to plain locals for the same reason.
struct DecodeSession {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    jpeg_source_mgr source;
    jpeg_progress_mgr progress;
    std::jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
    bool cmyk;
};

DecodeSession &SessionOf(j_common_ptr common)
{
    return *static_cast<DecodeSession *>(common->client_data);
}

DecodeSession &SessionOf(j_decompress_ptr info)
{
    return SessionOf(reinterpret_cast<j_common_ptr>(info));
}

[[noreturn]] void Fail(DecodeSession &session, const char *why)
{
    std::snprintf(session.message, sizeof session.message, "%s", why);
    std::longjmp(session.escape, 1);
}

// Replaces libjpeg's default, which would end the program.
[[noreturn]] void OnError(j_common_ptr common)
{
    DecodeSession &session = SessionOf(common);
    common->err->format_message(common, session.message);
    std::longjmp(session.escape, 1);
}

// libjpeg only warns about damaged data and goes on with guessed pixels; a
// header showing guesses is worse than a blank one, so a warning ends the
// decoding. Trace messages (level 0 and up) are dropped.
void OnMessage(j_common_ptr common, int level)
{
    if (level < 0)
        OnError(common);
}

void OnOutputMessage(j_common_ptr) {}

void OnProgress(j_common_ptr common)
{
    const auto info = reinterpret_cast<j_decompress_ptr>(common);
    if (info->input_scan_number > kMaxScans)
        Fail(SessionOf(common), "the picture has too many scans");
}

// The whole file is in memory from the start, so libjpeg asking for more
// means the file ends before the picture does.
void InitSource(j_decompress_ptr) {}

boolean FillSource(j_decompress_ptr info)
{
    Fail(SessionOf(info), "the file ends before the picture does (truncated)");
}

void SkipSource(j_decompress_ptr info, long count)
{
    if (count <= 0)
        return;
    jpeg_source_mgr &source = *info->src;
    if (static_cast<unsigned long>(count) > source.bytes_in_buffer)
        Fail(SessionOf(info), "the file ends before the picture does (truncated)");
    source.next_input_byte += count;
    source.bytes_in_buffer -= static_cast<std::size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// The libjpeg part, step one: reads the headers and chooses the output colour.
// Returns false with session.message filled when libjpeg gave up.
bool ReadHeader(DecodeSession &session, const unsigned char *data, std::size_t size)
{
    if (setjmp(session.escape))
        return false;
    jpeg_create_decompress(&session.info);
    session.source.next_input_byte = data;
    session.source.bytes_in_buffer = size;
    session.info.src = &session.source;
    session.info.progress = &session.progress;
    jpeg_read_header(&session.info, TRUE);
    switch (session.info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        session.info.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        session.info.out_color_space = JCS_CMYK;
        session.cmyk = true;
        break;
    default:
        session.info.out_color_space = JCS_RGB;
        break;
    }
    return true;
}

// Adobe applications store CMYK inverted (255 means no ink) and mark the file.
void CmykToRgb(const JSAMPLE *cmyk, unsigned char *rgb, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, rgb += 3) {
        const unsigned key = inverted ? cmyk[3] : 255u - cmyk[3];
        for (int channel = 0; channel < 3; ++channel) {
            const unsigned ink = inverted ? cmyk[channel] : 255u - cmyk[channel];
            rgb[channel] = static_cast<unsigned char>(ink * key / 255u);
        }
    }
}

// Step two: decodes every row into pixels (bytesPerLine apart), 1 byte per
// pixel for grey, 3 for everything else.
bool ReadPixels(DecodeSession &session, unsigned char *pixels, std::size_t bytesPerLine)
{
    if (setjmp(session.escape))
        return false;
    jpeg_start_decompress(&session.info);
    JSAMPARRAY cmykRow = nullptr;
    if (session.cmyk) {
        cmykRow = session.info.mem->alloc_sarray(reinterpret_cast<j_common_ptr>(&session.info),
                                                 JPOOL_IMAGE, session.info.output_width * 4, 1);
    }
    while (session.info.output_scanline < session.info.output_height) {
        unsigned char *target = pixels + session.info.output_scanline * bytesPerLine;
        JSAMPROW row = cmykRow ? cmykRow[0] : target;
        jpeg_read_scanlines(&session.info, &row, 1);
        if (cmykRow)
            CmykToRgb(cmykRow[0], target, session.info.output_width, session.info.saw_Adobe_marker);
    }
    jpeg_finish_decompress(&session.info);
    return true;
}

// Releases libjpeg's memory on every way out, also after an error.
class DecompressorRelease {
public:
    explicit DecompressorRelease(DecodeSession &session) : m_session(session) {}
    ~DecompressorRelease() { jpeg_destroy_decompress(&m_session.info); }
    DecompressorRelease(const DecompressorRelease &) = delete;
    DecompressorRelease &operator=(const DecompressorRelease &) = delete;

private:
    DecodeSession &m_session;
};

void PrepareSession(DecodeSession &session)
{
    session.info.client_data = &session;
    session.info.err = jpeg_std_error(&session.errors);
    session.errors.error_exit = OnError;
    session.errors.emit_message = OnMessage;
    session.errors.output_message = OnOutputMessage;
    session.source.init_source = InitSource;
    session.source.fill_input_buffer = FillSource;
    session.source.skip_input_data = SkipSource;
    session.source.resync_to_restart = jpeg_resync_to_restart;
    session.source.term_source = TermSource;
    session.progress.progress_monitor = OnProgress;
}

// The seal: marker FF EF, length, name with its terminating zero (the way JFIF
// names its segment), then the SHA-256 of the file without this segment.
constexpr char kSealName[] = "R310-SHA256";
constexpr int kSealNameSize = sizeof kSealName;
constexpr int kSealDigestSize = 32;
constexpr int kSealSegmentSize = 4 + kSealNameSize + kSealDigestSize;
constexpr unsigned char kMarkerStart = 0xFF;
constexpr unsigned char kStartOfImage = 0xD8;
constexpr unsigned char kFirstApplicationMarker = 0xE0; // APP0, where JFIF lives
constexpr unsigned char kSealMarker = 0xEF;             // APP15
constexpr unsigned char kCommentMarker = 0xFE;

unsigned char ByteAt(const QByteArray &bytes, int at)
{
    return static_cast<unsigned char>(bytes.at(at));
}

bool StartsLikeJpeg(const QByteArray &bytes)
{
    return bytes.size() >= 2 && ByteAt(bytes, 0) == kMarkerStart && ByteAt(bytes, 1) == kStartOfImage;
}

// Where the segment at 'at' ends, or -1 when no whole segment header is there.
int SegmentEnd(const QByteArray &bytes, int at)
{
    if (at + 4 > bytes.size() || ByteAt(bytes, at) != kMarkerStart)
        return -1;
    return at + 2 + (ByteAt(bytes, at + 2) << 8 | ByteAt(bytes, at + 3));
}

bool IsSeal(const QByteArray &bytes, int at)
{
    return at + kSealSegmentSize <= bytes.size() && ByteAt(bytes, at + 1) == kSealMarker &&
           SegmentEnd(bytes, at) == at + kSealSegmentSize &&
           bytes.mid(at + 4, kSealNameSize) == QByteArray(kSealName, kSealNameSize);
}

// The seal sits among the application and comment segments before the tables.
int FindSeal(const QByteArray &bytes)
{
    for (int at = 2; at + 4 <= bytes.size();) {
        const unsigned char marker = ByteAt(bytes, at + 1);
        if (ByteAt(bytes, at) != kMarkerStart || (marker < kFirstApplicationMarker && marker != kCommentMarker))
            return -1;
        if (IsSeal(bytes, at))
            return at;
        at = SegmentEnd(bytes, at);
    }
    return -1;
}

QByteArray DigestWithout(const QByteArray &bytes, int sealAt, int sealSize)
{
    QCryptographicHash digest(QCryptographicHash::Sha256);
    digest.addData(bytes.left(sealAt));
    digest.addData(bytes.mid(sealAt + sealSize));
    return digest.result();
}

bool SealMatches(const QByteArray &bytes)
{
    const int at = FindSeal(bytes);
    return at < 0 || bytes.mid(at + 4 + kSealNameSize, kSealDigestSize) ==
                         DigestWithout(bytes, at, kSealSegmentSize);
}

QString ReadWholeFile(const QString &path, QByteArray *bytes)
{
    QFile file(path);
    if (!file.exists())
        return QStringLiteral("the file is missing");
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    if (file.size() > kMaxFileBytes)
        return QStringLiteral("the file is too large for a picture (%1 bytes)").arg(file.size());
    *bytes = file.readAll();
    if (bytes->isEmpty())
        return QStringLiteral("the file is empty");
    return {};
}

} // namespace

QImage LoadJpegPicture(const QString &path, QString *error)
{
    const auto refuse = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
        return QImage();
    };

    QByteArray bytes;
    const QString unreadable = ReadWholeFile(path, &bytes);
    if (!unreadable.isEmpty())
        return refuse(unreadable);

    DecodeSession session{};
    PrepareSession(session);
    const DecompressorRelease release(session);
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    if (!ReadHeader(session, data, static_cast<std::size_t>(bytes.size())))
        return refuse(QString::fromLocal8Bit(session.message));

    const JDIMENSION width = session.info.image_width;
    const JDIMENSION height = session.info.image_height;
    if (width > kJpegPictureMaxSide || height > kJpegPictureMaxSide) {
        return refuse(QStringLiteral("the picture claims %1 × %2 pixels, more than %3 × %3")
                          .arg(width).arg(height).arg(kJpegPictureMaxSide));
    }
    const bool grey = session.info.out_color_space == JCS_GRAYSCALE;
    QImage image(static_cast<int>(width), static_cast<int>(height),
                 grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (image.isNull())
        return refuse(QStringLiteral("there is not enough memory for the picture"));
    if (!ReadPixels(session, image.bits(), static_cast<std::size_t>(image.bytesPerLine())))
        return refuse(QString::fromLocal8Bit(session.message));
    // Checked after decoding, so libjpeg's more precise complaints come first.
    if (!SealMatches(bytes))
        return refuse(QStringLiteral("the picture is damaged: its SHA-256 check sum does not match"));
    return image;
}

QByteArray SealJpegPicture(const QByteArray &jpeg)
{
    if (!StartsLikeJpeg(jpeg))
        return {};
    const bool jfifFirst = jpeg.size() >= 4 && ByteAt(jpeg, 2) == kMarkerStart &&
                           ByteAt(jpeg, 3) == kFirstApplicationMarker;
    const int end = jfifFirst ? SegmentEnd(jpeg, 2) : -1;
    const int insertAt = end > 0 && end <= jpeg.size() ? end : 2;

    QByteArray seal;
    seal.reserve(kSealSegmentSize);
    seal.append(static_cast<char>(kMarkerStart)).append(static_cast<char>(kSealMarker));
    const int length = kSealSegmentSize - 2;
    seal.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF));
    seal.append(kSealName, kSealNameSize);
    seal.append(QCryptographicHash::hash(jpeg, QCryptographicHash::Sha256));
    return jpeg.left(insertAt) + seal + jpeg.mid(insertAt);
}
