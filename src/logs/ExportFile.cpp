#include "ExportFile.h"

#include <QDir>
#include <QSaveFile>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace r310::logs {

namespace {

constexpr char kReplacement = '?';
constexpr char kLineEnd[] = "\r\n";

#ifdef Q_OS_WIN
// The system's ANSI code page when it holds every character in one byte;
// 0 for a multi-byte code page (UTF-8, East Asian double-byte), where the
// export falls back to Latin-1 so no multi-byte sequence reaches the file.
UINT SingleByteAnsiCodePage()
{
    const UINT codePage = GetACP();
    CPINFO info{};
    if (GetCPInfo(codePage, &info) && info.MaxCharSize == 1)
        return codePage;
    return 0;
}

char EncodeInCodePage(char32_t codePoint, UINT codePage)
{
    const QString text = QString::fromUcs4(&codePoint, 1);
    char encoded[8] = {};
    BOOL usedDefault = FALSE;
    const char replacement[] = {kReplacement, '\0'};
    // No "best fit": a character the code page lacks is replaced, never
    // turned into a look-alike.
    const int length = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS,
                                           reinterpret_cast<const wchar_t *>(text.utf16()),
                                           static_cast<int>(text.size()), encoded,
                                           static_cast<int>(sizeof encoded), replacement, &usedDefault);
    if (length != 1 || usedDefault)
        return kReplacement;
    return encoded[0];
}
#endif

char EncodeLatin1(char32_t codePoint)
{
    if (codePoint > 0xFF)
        return kReplacement;
    return static_cast<char>(static_cast<unsigned char>(codePoint));
}

char EncodeInSet(char32_t codePoint)
{
#ifdef Q_OS_WIN
    static const UINT codePage = SingleByteAnsiCodePage();
    if (codePage != 0)
        return EncodeInCodePage(codePoint, codePage);
#endif
    return EncodeLatin1(codePoint);
}

char EncodeCodePoint(char32_t codePoint)
{
    // A line break inside a line would split it in two.
    if (codePoint == U'\r' || codePoint == U'\n')
        return kReplacement;
    const char encoded = EncodeInSet(codePoint);
    // A blank of another width (the narrow blank some regional time formats
    // put before AM/PM) stays a blank, so dates and times still read as such.
    if (encoded == kReplacement && codePoint != U'?' && QChar::category(codePoint) == QChar::Separator_Space)
        return ' ';
    return encoded;
}

} // namespace

QByteArray EncodeExportLine(const QString &line)
{
    // Composed form first, so a letter typed as base and accent is the one
    // 8-bit character it can be.
    const QString composed = line.normalized(QString::NormalizationForm_C);
    QByteArray bytes;
    bytes.reserve(composed.size());
    for (qsizetype i = 0; i < composed.size(); ++i) {
        const QChar unit = composed.at(i);
        char32_t codePoint = unit.unicode();
        if (unit.isHighSurrogate() && i + 1 < composed.size() && composed.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(unit, composed.at(i + 1));
            ++i;
        } else if (unit.isSurrogate()) {
            bytes.append(kReplacement);
            continue;
        }
        bytes.append(EncodeCodePoint(codePoint));
    }
    return bytes;
}

QByteArray EncodeExportLines(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines) {
        bytes.append(EncodeExportLine(line));
        bytes.append(kLineEnd);
    }
    return bytes;
}

QString CannotCreateFileText(const QString &path)
{
    return QStringLiteral("Cannot create file %1").arg(QDir::toNativeSeparators(path));
}

ExportResult WriteExportFile(const QString &path, const QStringList &lines)
{
    ExportFile file(path);
    if (ExportResult opened = file.begin(); !opened.ok)
        return opened;
    for (const QString &line : lines) {
        if (!file.append(line))
            break;
    }
    return file.commit();
}

ExportFile::ExportFile(QString path) : path_(std::move(path)) {}

ExportFile::~ExportFile()
{
    cancel();
}

ExportResult ExportFile::begin()
{
    cancel();
    writeFailed_ = false;
    file_ = std::make_unique<QSaveFile>(path_);
    // Never write into the target directly, even where a temporary file
    // cannot be made next to it: a failure must leave the old file.
    file_->setDirectWriteFallback(false);
    if (!file_->open(QIODevice::WriteOnly)) {
        ExportResult result = failure();
        file_.reset();
        return result;
    }
    return {true, {}, {}};
}

bool ExportFile::append(const QString &line)
{
    if (!file_ || writeFailed_)
        return false;
    QByteArray bytes = EncodeExportLine(line);
    bytes.append(kLineEnd);
    if (file_->write(bytes) != bytes.size())
        writeFailed_ = true;
    return !writeFailed_;
}

ExportResult ExportFile::commit()
{
    if (!file_)
        return {false, CannotCreateFileText(path_), QStringLiteral("not opened")};
    if (writeFailed_) {
        ExportResult result = failure();
        cancel();
        return result;
    }
    const bool committed = file_->commit();
    ExportResult result = committed ? ExportResult{true, {}, {}} : failure();
    file_.reset();
    return result;
}

void ExportFile::cancel()
{
    if (!file_)
        return;
    file_->cancelWriting();
    // Destroying an uncommitted save file removes its temporary file.
    file_.reset();
}

ExportResult ExportFile::failure() const
{
    return {false, CannotCreateFileText(path_), file_ ? file_->errorString() : QString()};
}

} // namespace r310::logs
