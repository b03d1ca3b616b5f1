#include "InstrumentDrawing.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

#include <array>
#include <cmath>

namespace {

// Layout on the 249 × 213 canvas, top to bottom.
const QRectF kBody(62, 8, 125, 194);
const QRectF kFace = kBody.adjusted(8, 10, -8, -10);
const QRectF kLamp(88, 1, 73, 14);
const QRectF kBezel(78, 30, 93, 76);
const QRectF kLcd = kBezel.adjusted(6, 6, -6, -6);
const QPointF kLeftButton(103, 123);
const QPointF kRightButton(146, 123);
const QPointF kStatusLed(124.5, 123);
const QPointF kGrilleCentre(124.5, 164);

const QColor kInk(0x1A, 0x22, 0x1B);
const QColor kBumper(0x2A, 0x2E, 0x34);

// Seven segments a..g, lit per digit as bits 0..6.
constexpr std::array<unsigned, 10> kDigitSegments = {
    0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

QPolygonF Segment(QPointF from, QPointF to, double thickness)
{
    const double half = thickness / 2;
    if (from.y() == to.y()) {
        return QPolygonF({from, {from.x() + half, from.y() - half}, {to.x() - half, to.y() - half},
                          to, {to.x() - half, to.y() + half}, {from.x() + half, from.y() + half}});
    }
    return QPolygonF({from, {from.x() + half, from.y() + half}, {to.x() + half, to.y() - half},
                      to, {to.x() - half, to.y() - half}, {from.x() - half, from.y() + half}});
}

// One seven-segment digit; unlit segments show faintly as on a real LCD.
void DrawDigit(QPainter &painter, const QRectF &box, int digit, double thickness)
{
    const double gap = thickness * 0.18;
    const double left = box.left() + thickness / 2;
    const double right = box.right() - thickness / 2;
    const double top = box.top() + thickness / 2;
    const double middle = box.center().y();
    const double bottom = box.bottom() - thickness / 2;
    const std::array<QPolygonF, 7> segments = {
        Segment({left + gap, top}, {right - gap, top}, thickness),
        Segment({right, top + gap}, {right, middle - gap}, thickness),
        Segment({right, middle + gap}, {right, bottom - gap}, thickness),
        Segment({left + gap, bottom}, {right - gap, bottom}, thickness),
        Segment({left, middle + gap}, {left, bottom - gap}, thickness),
        Segment({left, top + gap}, {left, middle - gap}, thickness),
        Segment({left + gap, middle}, {right - gap, middle}, thickness),
    };
    painter.setPen(Qt::NoPen);
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const bool lit = kDigitSegments[static_cast<std::size_t>(digit)] & (1u << i);
        QColor colour = kInk;
        colour.setAlphaF(lit ? 1.0 : 0.07);
        painter.setBrush(colour);
        painter.drawPolygon(segments[i]);
    }
}

void DrawShadow(QPainter &painter)
{
    const QPointF centre(kBody.center().x(), kBody.bottom() + 3);
    QRadialGradient shade(centre, 1.0);
    shade.setCoordinateMode(QGradient::ObjectMode);
    shade.setCenter(0.5, 0.5);
    shade.setFocalPoint(0.5, 0.5);
    shade.setRadius(0.5);
    shade.setColorAt(0.0, QColor(0, 0, 0, 70));
    shade.setColorAt(1.0, QColor(0, 0, 0, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shade);
    painter.drawEllipse(centre, kBody.width() * 0.62, 8);
}

void DrawAlarmLamp(QPainter &painter)
{
    QLinearGradient glow(kLamp.topLeft(), kLamp.bottomLeft());
    glow.setColorAt(0.0, QColor(0xFF, 0x6B, 0x55));
    glow.setColorAt(1.0, QColor(0xC4, 0x16, 0x0C));
    painter.setPen(QPen(QColor(0x7A, 0x0E, 0x08), 1.5));
    painter.setBrush(glow);
    painter.drawRoundedRect(kLamp, 6, 6);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 150));
    painter.drawRoundedRect(kLamp.adjusted(8, 2.5, -8, -kLamp.height() + 5.5), 1.5, 1.5);
}

void DrawHousing(QPainter &painter)
{
    QLinearGradient rubber(kBody.topLeft(), kBody.topRight());
    rubber.setColorAt(0.0, kBumper.lighter(135));
    rubber.setColorAt(0.25, kBumper);
    rubber.setColorAt(1.0, kBumper.darker(125));
    painter.setPen(QPen(QColor(0x14, 0x16, 0x19), 2));
    painter.setBrush(rubber);
    painter.drawRoundedRect(kBody, 24, 24);

    // Grip ridges moulded into the bumper's flanks.
    painter.setPen(QPen(kBumper.lighter(150), 1.6, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 4; ++i) {
        const double y = 112 + i * 8;
        painter.drawLine(QPointF(kBody.left() + 2.5, y), QPointF(kFace.left() - 2.5, y));
        painter.drawLine(QPointF(kFace.right() + 2.5, y), QPointF(kBody.right() - 2.5, y));
    }

    QLinearGradient paint(kFace.topLeft(), kFace.bottomLeft());
    paint.setColorAt(0.0, QColor(0xFF, 0xCE, 0x34));
    paint.setColorAt(1.0, QColor(0xF0, 0xA8, 0x00));
    painter.setPen(QPen(QColor(0xB8, 0x80, 0x00), 1.2));
    painter.setBrush(paint);
    painter.drawRoundedRect(kFace, 17, 17);
}

void DrawBattery(QPainter &painter, const QRectF &outline)
{
    painter.setPen(QPen(kInk, 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(outline);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kInk);
    painter.drawRect(QRectF(outline.right(), outline.center().y() - 1.5, 1.8, 3));
    const double bar = (outline.width() - 4) / 3;
    for (int i = 0; i < 3; ++i)
        painter.drawRect(QRectF(outline.left() + 1.5 + i * (bar + 0.5), outline.top() + 1.5, bar - 0.5,
                                outline.height() - 3));
}

void DrawPercent(QPainter &painter, const QRectF &box)
{
    painter.setPen(QPen(kInk, 1.5));
    painter.setBrush(Qt::NoBrush);
    const double ring = box.width() * 0.17;
    painter.drawEllipse(QPointF(box.left() + ring + 0.8, box.top() + ring + 0.8), ring, ring);
    painter.drawEllipse(QPointF(box.right() - ring - 0.8, box.bottom() - ring - 0.8), ring, ring);
    painter.drawLine(box.bottomLeft() + QPointF(1, -0.5), box.topRight() + QPointF(-1, 0.5));
}

// O2 as the display prints the gas: a ring and a small subscript digit.
void DrawOxygen(QPainter &painter, const QRectF &box)
{
    painter.setPen(QPen(kInk, 1.8));
    painter.setBrush(Qt::NoBrush);
    const QRectF letter(box.left(), box.top(), box.height() * 0.8, box.height());
    painter.drawEllipse(letter.adjusted(1, 1, -1, -1));
    DrawDigit(painter, QRectF(letter.right() + 1.5, box.top() + box.height() * 0.42, 5, 7), 2, 1.3);
}

void DrawDisplay(QPainter &painter)
{
    painter.setPen(QPen(QColor(0x12, 0x14, 0x17), 1.2));
    painter.setBrush(QColor(0x25, 0x29, 0x2F));
    painter.drawRoundedRect(kBezel, 9, 9);

    QLinearGradient backlight(kLcd.topLeft(), kLcd.bottomRight());
    backlight.setColorAt(0.0, QColor(0xDD, 0xEE, 0xC8));
    backlight.setColorAt(1.0, QColor(0xB9, 0xD4, 0x9E));
    painter.setPen(Qt::NoPen);
    painter.setBrush(backlight);
    painter.drawRoundedRect(kLcd, 4, 4);

    DrawBattery(painter, QRectF(kLcd.right() - 17, kLcd.top() + 4, 12, 6.5));

    // The reading 20.9: two digits, the decimal point, one digit.
    const double top = kLcd.top() + 14;
    const QSizeF digit(15, 28);
    const double thickness = 3.6;
    const double first = kLcd.left() + 7;
    DrawDigit(painter, QRectF(QPointF(first, top), digit), 2, thickness);
    DrawDigit(painter, QRectF(QPointF(first + 19, top), digit), 0, thickness);
    painter.setBrush(kInk);
    painter.drawEllipse(QPointF(first + 38.5, top + digit.height() - 1.6), 2, 2);
    DrawDigit(painter, QRectF(QPointF(first + 43, top), digit), 9, thickness);

    DrawPercent(painter, QRectF(kLcd.right() - 13, top + 15, 9, 11));
    DrawOxygen(painter, QRectF(kLcd.left() + 6, kLcd.top() + 3, 0, 9));
}

void DrawButton(QPainter &painter, QPointF centre, double radius)
{
    painter.setPen(QPen(QColor(0x12, 0x14, 0x17), 1.2));
    painter.setBrush(QColor(0x1E, 0x21, 0x26));
    painter.drawEllipse(centre, radius + 2.5, radius + 2.5);
    QRadialGradient dome(centre - QPointF(radius * 0.35, radius * 0.35), radius * 1.4);
    dome.setColorAt(0.0, QColor(0x5A, 0x60, 0x69));
    dome.setColorAt(1.0, QColor(0x2C, 0x30, 0x36));
    painter.setPen(Qt::NoPen);
    painter.setBrush(dome);
    painter.drawEllipse(centre, radius, radius);
}

void DrawPowerSymbol(QPainter &painter, QPointF centre, double radius)
{
    painter.setPen(QPen(QColor(0xFF, 0xCE, 0x34), 1.8, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    const QRectF ring(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    painter.drawArc(ring, 60 * 16, -300 * 16); // open at the top
    painter.drawLine(centre, centre - QPointF(0, radius * 1.35));
}

void DrawControls(QPainter &painter)
{
    DrawButton(painter, kLeftButton, 9);
    DrawPowerSymbol(painter, kLeftButton + QPointF(0, 0.8), 4);
    DrawButton(painter, kRightButton, 9);
    // The right button answers with a tick: confirm.
    painter.setPen(QPen(QColor(0xFF, 0xCE, 0x34), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygonF({kRightButton + QPointF(-4, 0), kRightButton + QPointF(-1, 3),
                                    kRightButton + QPointF(4.5, -3.5)}));

    QRadialGradient led(kStatusLed - QPointF(1, 1), 5);
    led.setColorAt(0.0, QColor(0xB6, 0xFF, 0x9C));
    led.setColorAt(1.0, QColor(0x1E, 0x9E, 0x2C));
    painter.setPen(QPen(QColor(0x14, 0x5E, 0x1C), 1));
    painter.setBrush(led);
    painter.drawEllipse(kStatusLed, 3.5, 3.5);
}

// The gas enters through a round grille of holes over the sensor.
void DrawSensorGrille(QPainter &painter)
{
    painter.setPen(QPen(QColor(0x12, 0x14, 0x17), 1.2));
    painter.setBrush(kBumper);
    painter.drawEllipse(kGrilleCentre, 23, 23);
    QRadialGradient plate(kGrilleCentre - QPointF(6, 6), 28);
    plate.setColorAt(0.0, QColor(0x8A, 0x90, 0x98));
    plate.setColorAt(1.0, QColor(0x55, 0x5A, 0x62));
    painter.setPen(Qt::NoPen);
    painter.setBrush(plate);
    painter.drawEllipse(kGrilleCentre, 18.5, 18.5);

    painter.setBrush(QColor(0x16, 0x18, 0x1B));
    painter.drawEllipse(kGrilleCentre, 2.4, 2.4);
    constexpr double kPi = 3.14159265358979323846;
    const std::array<std::pair<int, double>, 2> rings = {{{6, 7.0}, {12, 13.5}}};
    for (const auto &[holes, radius] : rings) {
        for (int i = 0; i < holes; ++i) {
            const double angle = 2 * kPi * i / holes + kPi / holes;
            const QPointF hole = kGrilleCentre + QPointF(std::cos(angle), std::sin(angle)) * radius;
            painter.drawEllipse(hole, 2.2, 2.2);
        }
    }
}

} // namespace

QImage DrawInstrument()
{
    QImage picture(kInstrumentPictureWidth, kInstrumentPictureHeight, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawShadow(painter);
    DrawAlarmLamp(painter);
    DrawHousing(painter);
    DrawDisplay(painter);
    DrawControls(painter);
    DrawSensorGrille(painter);
    painter.end();
    return picture.convertToFormat(QImage::Format_RGB888);
}
