#include "GasTable.h"

#include "KALTEX32.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include <array>

namespace r310 {

namespace {

constexpr char kLibraryName[] = "KALTEX32";

QString Describe(const QString &directory)
{
    return QDir::toNativeSeparators(QDir(directory).absolutePath());
}

} // namespace

GasTable::GasTable(std::unique_ptr<QLibrary> library, Function name, Function unit)
    : m_library(std::move(library)), m_gasName(name), m_gasUnit(unit)
{
}

GasTable::~GasTable()
{
    m_library->unload();
}

QString GasTable::LibraryFileName()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("KALTEX32.dll");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("libKALTEX32.dylib");
#else
    return QStringLiteral("libKALTEX32.so");
#endif
}

std::unique_ptr<GasTable> GasTable::Load(QString *error)
{
    QStringList directories;
    if (QCoreApplication::instance())
        directories << QCoreApplication::applicationDirPath();
    return Load(directories, error);
}

std::unique_ptr<GasTable> GasTable::Load(const QStringList &directories, QString *error)
{
    QStringList looked;
    QStringList problems; // libraries found but unusable
    const auto tryLoad = [&](const QString &path, const QString &place) -> std::unique_ptr<GasTable> {
        auto library = std::make_unique<QLibrary>(path);
        if (!library->load()) {
            if (QFileInfo::exists(path))
                problems << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), library->errorString());
            looked << place;
            return nullptr;
        }
        const Function name = library->resolve("GasNameText");
        const Function unit = library->resolve("GasUnitText");
        if (!name || !unit) {
            problems << QStringLiteral("%1 lacks GasNameText or GasUnitText")
                            .arg(QDir::toNativeSeparators(library->fileName()));
            looked << place;
            library->unload();
            return nullptr;
        }
        return std::unique_ptr<GasTable>(new GasTable(std::move(library), name, unit));
    };

    for (const QString &directory : directories) {
        if (directory.isEmpty())
            continue;
        if (auto table = tryLoad(QDir(directory).filePath(LibraryFileName()), Describe(directory)))
            return table;
    }
    // A bare name lets the system search its own library path.
    if (auto table = tryLoad(QString::fromLatin1(kLibraryName), QStringLiteral("the system's library path")))
        return table;

    if (error) {
        *error = QStringLiteral("The gas table library %1 (%2) is missing. Looked in: %3.")
                     .arg(QLatin1String(kLibraryName), LibraryFileName(), looked.join(QStringLiteral("; ")));
        if (!problems.isEmpty())
            *error += QStringLiteral(" Found but not usable: %1.").arg(problems.join(QStringLiteral("; ")));
    }
    return nullptr;
}

QString GasTable::Call(Function function, std::uint8_t code)
{
    // One byte more than the library may write, so the text always ends.
    std::array<char, KALTEX32_BUFFER_SIZE + 1> buffer{};
    reinterpret_cast<KaltexTextFunction>(function)(0, code, buffer.data(), KALTEX32_BUFFER_SIZE);
    return QString::fromLatin1(buffer.data(),
                               static_cast<qsizetype>(qstrnlen(buffer.data(), KALTEX32_BUFFER_SIZE)));
}

QString GasTable::GasNameText(std::uint8_t gasCode) const
{
    return Call(m_gasName, gasCode);
}

QString GasTable::GasUnitText(std::uint8_t unitCode) const
{
    return Call(m_gasUnit, unitCode);
}

QString GasTable::GasTexts(std::uint8_t unitCode, std::uint8_t gasCode) const
{
    const QString unit = GasUnitText(unitCode);
    return unit + u' ' + GasNameText(gasCode);
}

QString GasTable::fileName() const
{
    return m_library->fileName();
}

} // namespace r310
