// The header picture's decoder: the picture as shipped, damaged copies of it,
// and JPEGs made here with the picture tool's writer. Every refusal must come
// back as a null image with a reason while the test program keeps running.
#include "InstrumentDrawing.h"
#include "JpegPicture.h"
#include "JpegWriter.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

const QString kShippedPicture = QStringLiteral(R310_HEADER_PICTURE);

constexpr unsigned char kStartOfFrame = 0xC0;
constexpr unsigned char kQuantisationTable = 0xDB;
constexpr unsigned char kStartOfScan = 0xDA;

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

unsigned char ByteAt(const QByteArray &bytes, int at)
{
    return static_cast<unsigned char>(bytes.at(at));
}

// Offset of the first segment with this marker before the image data, or -1.
int SegmentOffset(const QByteArray &jpeg, unsigned char marker)
{
    for (int at = 2; at + 4 <= jpeg.size();) {
        if (ByteAt(jpeg, at + 1) == marker)
            return at;
        if (ByteAt(jpeg, at + 1) == kStartOfScan)
            return -1;
        at += 2 + (ByteAt(jpeg, at + 2) << 8 | ByteAt(jpeg, at + 3));
    }
    return -1;
}

// Where the compressed image data begins: right after the scan header.
int ImageDataOffset(const QByteArray &jpeg)
{
    const int scan = SegmentOffset(jpeg, kStartOfScan);
    return scan + 2 + (ByteAt(jpeg, scan + 2) << 8 | ByteAt(jpeg, scan + 3));
}

QByteArray Flipped(QByteArray bytes, int at, int count = 1)
{
    for (int i = at; i < at + count; ++i)
        bytes[i] = static_cast<char>(~bytes.at(i));
    return bytes;
}

QByteArray WithFrameSize(QByteArray jpeg, int width, int height)
{
    const int frame = SegmentOffset(jpeg, kStartOfFrame);
    jpeg[frame + 5] = static_cast<char>(height >> 8);
    jpeg[frame + 6] = static_cast<char>(height & 0xFF);
    jpeg[frame + 7] = static_cast<char>(width >> 8);
    jpeg[frame + 8] = static_cast<char>(width & 0xFF);
    return jpeg;
}

// A raster or a QImage, through the picture tool's writer.
template <typename Source>
QByteArray Encoded(const Source &source)
{
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QString error;
    EXPECT_TRUE(WriteJpeg(source, out, 95, &error)) << qPrintable(error);
    return out.data();
}

// A grey ramp across the picture, so misplaced rows or columns show.
QImage GreyRamp(int width, int height)
{
    QImage ramp(width, height, QImage::Format_Grayscale8);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            ramp.scanLine(y)[x] = static_cast<uchar>((x * 255 / std::max(width - 1, 1) + y) & 0xFF);
    }
    return ramp;
}

struct Difference {
    int largest = 0;
    double mean = 0;
};

// Byte for byte over two pictures of the same size and format.
Difference Compare(const QImage &a, const QImage &b)
{
    Difference difference;
    const int rowBytes = a.width() * a.depth() / 8;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < rowBytes; ++x) {
            const int step = std::abs(a.constScanLine(y)[x] - b.constScanLine(y)[x]);
            difference.largest = std::max(difference.largest, step);
            difference.mean += step;
        }
    }
    difference.mean /= double(rowBytes) * a.height();
    return difference;
}

class JpegPictureTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString Place(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return path;
    }

    // Expects the file refused: a null picture and a reason naming the file
    // and containing 'reason'.
    void ExpectRefused(const QString &name, const QByteArray &bytes, const QString &reason)
    {
        SCOPED_TRACE(qPrintable(name));
        QString error;
        const QImage picture = LoadJpegPicture(Place(name, bytes), &error);
        EXPECT_TRUE(picture.isNull());
        EXPECT_TRUE(error.contains(name)) << qPrintable(error);
        EXPECT_TRUE(error.contains(reason, Qt::CaseInsensitive)) << qPrintable(error);
    }

    QTemporaryDir m_dir;
};

TEST_F(JpegPictureTest, ShippedPictureIsTheInstrumentOurToolDraws)
{
    QString error;
    const QImage picture = LoadJpegPicture(kShippedPicture, &error);
    ASSERT_FALSE(picture.isNull()) << qPrintable(error);
    EXPECT_TRUE(error.isEmpty());
    EXPECT_EQ(picture.size(), QSize(kInstrumentPictureWidth, kInstrumentPictureHeight));
    ASSERT_EQ(picture.format(), QImage::Format_RGB888);
    // Colour for colour what the tool draws today (so also not blank, and
    // red not swapped with blue); only JPEG's small losses may differ.
    const QImage drawn = DrawInstrument();
    EXPECT_LT(Compare(picture, drawn).mean, 2.0) << "make the picture again with headerpicture";
}

TEST_F(JpegPictureTest, DamagedCopiesOfTheShippedPictureAreRefused)
{
    const QByteArray good = ReadAll(kShippedPicture);
    ASSERT_FALSE(good.isEmpty());
    const int data = ImageDataOffset(good);
    ASSERT_GT(data, 0);

    QString error;
    EXPECT_TRUE(LoadJpegPicture(m_dir.filePath("absent.jpg"), &error).isNull());
    EXPECT_TRUE(error.contains("absent.jpg") && error.contains("missing")) << qPrintable(error);
    ExpectRefused("empty.jpg", {}, "empty");
    ExpectRefused("half.jpg", good.left(good.size() / 2), "truncated");
    ExpectRefused("headers-only.jpg", good.left(data), "truncated");
    ExpectRefused("no-end-marker.jpg", good.left(good.size() - 2), "truncated");
    // A changed quantisation value still decodes, to wrong pixels: only the
    // check sum notices. So does the check sum's own damage.
    const int tables = SegmentOffset(good, kQuantisationTable);
    ExpectRefused("table.jpg", Flipped(good, tables + 10), "check sum");
    ExpectRefused("seal.jpg", Flipped(good, good.indexOf("R310-SHA256") + 14), "check sum");
    // Flipped bytes throughout the image data, one place at a time.
    for (int at = data; at < good.size() - 2; at += (good.size() - data) / 40)
        ExpectRefused(QStringLiteral("data-%1.jpg").arg(at), Flipped(good, at), "");
    ExpectRefused("data-run.jpg", Flipped(good, (data + good.size()) / 2, 64), "");

    // After all that the good picture still loads.
    EXPECT_FALSE(LoadJpegPicture(Place("again.jpg", good)).isNull());
}

TEST_F(JpegPictureTest, OtherFilesAreNotTakenForPictures)
{
    QBuffer png;
    png.open(QIODevice::WriteOnly);
    ASSERT_TRUE(DrawInstrument().save(&png, "PNG"));
    ExpectRefused("picture.png", png.data(), "Not a JPEG file");
    ExpectRefused("notes.txt", "R310 header picture\n", "Not a JPEG file");
}

TEST_F(JpegPictureTest, GreyJpegDecodesAndLibjpegsOwnChecksHold)
{
    const QImage ramp = GreyRamp(64, 48);
    const QByteArray grey = Encoded(ramp);
    ASSERT_FALSE(grey.isEmpty());
    QString error;
    const QImage decoded = LoadJpegPicture(Place("grey.jpg", grey), &error);
    ASSERT_FALSE(decoded.isNull()) << qPrintable(error);
    EXPECT_EQ(decoded.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(decoded.size(), ramp.size());
    EXPECT_LE(Compare(decoded, ramp).largest, 6);

    // This file has no check sum: what is refused here, libjpeg found.
    const int data = ImageDataOffset(grey);
    ExpectRefused("grey-start.jpg", Flipped(grey, 0), "Not a JPEG file");
    ExpectRefused("grey-cut.jpg", grey.left((data + grey.size()) / 2), "truncated");
    // An end marker in the middle of the image data: libjpeg would pad the
    // rest with grey and only warn.
    QByteArray ended = grey;
    ended[(data + grey.size()) / 2] = static_cast<char>(0xFF);
    ended[(data + grey.size()) / 2 + 1] = static_cast<char>(0xD9);
    ExpectRefused("grey-ended.jpg", ended, "Corrupt JPEG data");
    QByteArray twelveBits = grey;
    twelveBits[SegmentOffset(grey, kStartOfFrame) + 4] = 12;
    ExpectRefused("grey-precision.jpg", twelveBits, "Unsupported JPEG data precision 12");
    ExpectRefused("grey-huge.jpg", WithFrameSize(grey, 60000, 60000), "60000 × 60000");
}

TEST_F(JpegPictureTest, SizeBoundLetsTheLargestPictureThroughAndNoLarger)
{
    const QByteArray widest = Encoded(GreyRamp(kJpegPictureMaxSide, 8));
    QString error;
    EXPECT_EQ(LoadJpegPicture(Place("widest.jpg", widest), &error).size(), QSize(kJpegPictureMaxSide, 8))
        << qPrintable(error);
    ExpectRefused("too-wide.jpg", Encoded(GreyRamp(kJpegPictureMaxSide + 1, 8)), "4097 × 8");
    ExpectRefused("too-tall.jpg", Encoded(GreyRamp(8, kJpegPictureMaxSide + 1)), "8 × 4097");
}

TEST_F(JpegPictureTest, AdobeCmykDecodesToTheColoursItStandsFor)
{
    // Left half full cyan ink, right half half black; stored inverted.
    constexpr int kWidth = 16;
    constexpr int kHeight = 8;
    std::vector<unsigned char> inks;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const bool cyan = x < kWidth / 2;
            const unsigned char cyanInk = cyan ? 0 : 255;
            const unsigned char blackInk = cyan ? 255 : 128;
            inks.insert(inks.end(), {cyanInk, 255, 255, blackInk});
        }
    }
    JpegRaster raster;
    raster.pixels = inks.data();
    raster.width = kWidth;
    raster.height = kHeight;
    raster.bytesPerLine = kWidth * 4;
    raster.components = 4;
    QString error;
    const QImage decoded = LoadJpegPicture(Place("cmyk.jpg", Encoded(raster)), &error);
    ASSERT_FALSE(decoded.isNull()) << qPrintable(error);
    const auto near = [](QColor a, QColor b) {
        return std::abs(a.red() - b.red()) <= 6 && std::abs(a.green() - b.green()) <= 6 &&
               std::abs(a.blue() - b.blue()) <= 6;
    };
    EXPECT_TRUE(near(decoded.pixelColor(2, 4), QColor(0, 255, 255))) << qPrintable(decoded.pixelColor(2, 4).name());
    EXPECT_TRUE(near(decoded.pixelColor(13, 4), QColor(128, 128, 128))) << qPrintable(decoded.pixelColor(13, 4).name());
}

} // namespace
