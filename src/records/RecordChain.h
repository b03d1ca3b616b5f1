#pragma once
// What a record's hash covers: its content, the hash of the record before
// it, and for a download the rows it added.
#include "RecordStore.h"

#include <QByteArray>
#include <QString>
#include <QVariantList>

#include <cstdint>

namespace r310::records {

// The hash a record carries: its content and the hash of the record before it.
QString RecordHash(const QString &previous, const QString &serial, qint64 seq, const StoredRecord &r,
                   const QString &bodyText, const QString &detailDigest);
// A download's digest: of its layout, and of the rows it added in key order.
QString DetailDigest(const QByteArray &layout, const QByteArray &rowsDigest);
// One event as its download's digest covers it.
QByteArray EventRowBytes(int number, int type, std::int32_t time, const QByteArray &bytes);
// One run of samples as its download's digest covers it.
QByteArray SampleRunBytes(int gas, int unit, std::int32_t time, int step, int count, int exponent, int alarm,
                          const QByteArray &raws);

// The columns of a cylinder's row that its signature covers, in this order.
inline const QString kCylinderSignedColumns = QStringLiteral(
    "lot, gas_code, unit_code, gas, unit, concentration, expires, balance, supplier, retired, added_at");
// The hash a cylinder's row carries: of its values in kCylinderSignedColumns' order.
QString CylinderHash(const QVariantList &values);
// What a cylinder's signature covers.
QByteArray CylinderSignedText(const QString &hash);

} // namespace r310::records
