#pragma once
// The connection lamp Shape1: a circle whose brush shows the connection.
#include <QColor>
#include <QWidget>

namespace r310::ui {

inline const QColor kStatusRed(255, 0, 0);
inline const QColor kStatusLimeGreen(0, 255, 0);
inline const QColor kStatusYellow(255, 255, 0);

class ConnectionLamp : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor brushColour READ brushColour WRITE setBrushColour)
public:
    // Starts in the button-face colour, until the window first clears the display.
    explicit ConnectionLamp(QWidget *parent = nullptr);

    QColor brushColour() const { return brush_; }
    void setBrushColour(const QColor &colour);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor brush_;
};

} // namespace r310::ui
