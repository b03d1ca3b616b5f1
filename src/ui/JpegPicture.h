// The header picture beside the program, read with libjpeg directly so the
// window does not depend on a Qt image plugin being deployed.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Larger pictures are refused before any pixel memory is taken, so a damaged
// or crafted header cannot make the program allocate gigabytes.
constexpr int kJpegPictureMaxSide = 4096;

// Decodes a grey, RGB/YCbCr or CMYK/YCCK JPEG into Format_Grayscale8 (grey) or
// Format_RGB888 (everything else). A missing, empty, truncated, corrupt,
// oversized or non-JPEG file gives a null image and, when error is given, a
// sentence saying why; libjpeg's errors never end the program.
QImage LoadJpegPicture(const QString &path, QString *error = nullptr);

// JPEG carries no check sum: damaged image data mostly decodes to wrong pixels
// without a word. Our pictures therefore carry a SHA-256 of the file in an
// application segment after the JFIF header, which LoadJpegPicture checks;
// a JPEG without one is decoded on libjpeg's checks alone. Returns the sealed
// file, or an empty array when jpeg does not start like a JPEG.
QByteArray SealJpegPicture(const QByteArray &jpeg);
