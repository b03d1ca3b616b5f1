// JPEG writing through libjpeg's compressor, for the header picture and for
// pictures the decoder's tests make on the spot.
#pragma once

#include <QString>

class QImage;
class QIODevice;

// Rows of 1 (grey), 3 (RGB) or 4 (CMYK) bytes per pixel. CMYK is written the
// way Adobe applications write it: inverted, with an Adobe marker.
struct JpegRaster {
    const unsigned char *pixels = nullptr;
    int width = 0;
    int height = 0;
    int bytesPerLine = 0;
    int components = 0;
};

// Compresses the raster (quality 1..100) into out. On failure returns false and
// says why; a libjpeg error never ends the program.
bool WriteJpeg(const JpegRaster &raster, QIODevice &out, int quality, QString *error = nullptr);

// A grey image (Format_Grayscale8) stays grey; any other is written in colour.
bool WriteJpeg(const QImage &image, QIODevice &out, int quality, QString *error = nullptr);
