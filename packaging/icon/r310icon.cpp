// r310icon OUTDIR: the configurator's menu icon, made from the instrument
// drawing of the window's header. The white around the instrument becomes
// transparent (the colour the white added is taken out again, so the shadow
// and the smoothed outline stay as translucent grey), the instrument is
// centred on a square and written as r310conf-SIZE.png in every size the
// package installs.
#include "InstrumentDrawing.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace {

constexpr std::array<int, 4> kIconSizes = {48, 64, 128, 256};
// A pixel this close to white (in its darkest channel) counts as background
// when the background is searched from the edges inwards.
constexpr int kBackgroundDistance = 96;
// Free room around the instrument, as a share of the icon's side.
constexpr double kMargin = 0.04;

int DistanceFromWhite(QRgb pixel)
{
    return 255 - std::min({qRed(pixel), qGreen(pixel), qBlue(pixel)});
}

// The background: every light pixel reachable from the picture's edge.
std::vector<bool> Background(const QImage &picture)
{
    const int width = picture.width();
    const int height = picture.height();
    std::vector<bool> background(static_cast<std::size_t>(width) * height, false);
    std::vector<QPoint> pending;
    const auto visit = [&](int x, int y) {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        const std::size_t index = static_cast<std::size_t>(y) * width + x;
        if (background[index] || DistanceFromWhite(picture.pixel(x, y)) > kBackgroundDistance)
            return;
        background[index] = true;
        pending.emplace_back(x, y);
    };
    for (int x = 0; x < width; ++x) {
        visit(x, 0);
        visit(x, height - 1);
    }
    for (int y = 0; y < height; ++y) {
        visit(0, y);
        visit(width - 1, y);
    }
    while (!pending.empty()) {
        const QPoint point = pending.back();
        pending.pop_back();
        visit(point.x() + 1, point.y());
        visit(point.x() - 1, point.y());
        visit(point.x(), point.y() + 1);
        visit(point.x(), point.y() - 1);
    }
    return background;
}

// The least opaque colour that gives the pixel when drawn over white.
QRgb WithoutWhite(QRgb pixel)
{
    const int alpha = DistanceFromWhite(pixel);
    if (alpha == 0)
        return qRgba(0, 0, 0, 0);
    const auto channel = [alpha](int value) { return 255 - (255 - value) * 255 / alpha; };
    return qRgba(channel(qRed(pixel)), channel(qGreen(pixel)), channel(qBlue(pixel)), alpha);
}

bool TouchesBackground(const std::vector<bool> &background, int width, int height, int x, int y)
{
    for (const auto &[dx, dy] : std::array<std::pair<int, int>, 4>{{{1, 0}, {-1, 0}, {0, 1}, {0, -1}}}) {
        const int nx = x + dx;
        const int ny = y + dy;
        if (nx >= 0 && ny >= 0 && nx < width && ny < height
            && background[static_cast<std::size_t>(ny) * width + nx])
            return true;
    }
    return false;
}

// The instrument on transparency: background pixels and the outline next to
// them lose their white; everything inside stays as drawn.
QImage CutOut(const QImage &drawing)
{
    const QImage picture = drawing.convertToFormat(QImage::Format_RGB32);
    const std::vector<bool> background = Background(picture);
    QImage cut(picture.size(), QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = picture.pixel(x, y);
            const bool outside = background[static_cast<std::size_t>(y) * picture.width() + x]
                || TouchesBackground(background, picture.width(), picture.height(), x, y);
            cut.setPixel(x, y, outside ? WithoutWhite(pixel) : pixel);
        }
    }
    return cut;
}

QRect OpaqueBounds(const QImage &image)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                bounds |= QRect(x, y, 1, 1);
    return bounds;
}

QImage Icon(const QImage &instrument, int size)
{
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    const int room = size - 2 * static_cast<int>(size * kMargin + 0.5);
    const QImage scaled = instrument.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                              .scaled(room, room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&icon);
    painter.drawImage((size - scaled.width()) / 2, (size - scaled.height()) / 2, scaled);
    painter.end();
    return icon.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2 || argv[1][0] == '-') {
        std::fputs("usage: r310icon OUTDIR\n"
                   "Writes the configurator's menu icon as OUTDIR/r310conf-SIZE.png.\n",
                   stderr);
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    const QImage cut = CutOut(DrawInstrument());
    const QImage instrument = cut.copy(OpaqueBounds(cut));
    for (const int size : kIconSizes) {
        const QString path = directory.filePath(QStringLiteral("r310conf-%1.png").arg(size));
        if (!Icon(instrument, size).save(path, "PNG")) {
            std::fprintf(stderr, "r310icon: cannot write %s\n", qPrintable(path));
            return 1;
        }
    }
    return 0;
}
