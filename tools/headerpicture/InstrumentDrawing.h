// The R310 seen from the front, drawn flat for the main window's header.
#pragma once

#include <QImage>

// Three times the 83 × 71 pixels the header shows, so scaling down smooths
// every edge.
constexpr int kInstrumentPictureWidth = 249;
constexpr int kInstrumentPictureHeight = 213;

// The instrument on white: yellow housing in a dark bumper, the red alarm lamp
// on top, the display showing 20.9 % O2, two buttons and the sensor grille.
QImage DrawInstrument();
