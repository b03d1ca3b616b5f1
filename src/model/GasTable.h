#pragma once
// Binding to the gas table library KALTEX32, which turns the instrument's
// one-byte gas and unit codes into texts.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

class QLibrary;

namespace r310 {

class GasTable {
public:
    // Loads the library from each directory in turn, then from the system's
    // library path. On failure returns null and, when error is given, a
    // message that names the library and every place it looked.
    static std::unique_ptr<GasTable> Load(const QStringList &directories, QString *error = nullptr);
    // Loads from the program's own directory (when an application object
    // exists), then from the system's library path.
    static std::unique_ptr<GasTable> Load(QString *error = nullptr);

    ~GasTable();
    GasTable(const GasTable &) = delete;
    GasTable &operator=(const GasTable &) = delete;

    QString GasNameText(std::uint8_t gasCode) const;
    QString GasUnitText(std::uint8_t unitCode) const;
    // Unit text, one blank, gas name (unit fetched first).
    QString GasTexts(std::uint8_t unitCode, std::uint8_t gasCode) const;

    // The file the library was loaded from.
    QString fileName() const;

    // Name of the library as the system spells it ("libKALTEX32.so", "KALTEX32.dll").
    static QString LibraryFileName();

private:
    using Function = void (*)();
    GasTable(std::unique_ptr<QLibrary> library, Function name, Function unit);
    static QString Call(Function function, std::uint8_t code);

    std::unique_ptr<QLibrary> m_library;
    Function m_gasName = nullptr;
    Function m_gasUnit = nullptr;
};

} // namespace r310
