#include "ConnectionLamp.h"

#include <QPainter>

namespace r310::ui {

namespace {
constexpr int kLampWidth = 49;
constexpr int kLampHeight = 45;
} // namespace

ConnectionLamp::ConnectionLamp(QWidget *parent) : QWidget(parent), brush_(palette().color(QPalette::Button))
{
    setFixedSize(sizeHint());
}

void ConnectionLamp::setBrushColour(const QColor &colour)
{
    if (brush_ == colour)
        return;
    brush_ = colour;
    update();
}

QSize ConnectionLamp::sizeHint() const
{
    return {kLampWidth, kLampHeight};
}

void ConnectionLamp::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::WindowText), 1));
    painter.setBrush(brush_);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

} // namespace r310::ui
