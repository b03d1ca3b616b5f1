// Every r310ctl argument that takes a value, given text, nothing, huge and
// negative numbers, separators of other regional settings and characters
// beyond Latin-1: each is refused with exit code 2 and one line on standard
// error, and the instrument hears no write (nor anything at all when the
// value can be judged without it).
#include "CtlBench.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace r310;
using clitest::CtlBench;
using clitest::CtlResult;
using clitest::Describe;

namespace {

// What the value was refused for, and how much reached the instrument.
enum class Wire {
    Nothing,  // judged before the port was opened
    NoWrites, // judged after reading what the value depends on
};

// One argument: the words around its value (%1), split at spaces.
struct Argument {
    QStringList words;
    Wire wire;
    Argument(const char *text, Wire wire) : words(clitest::Words(text)), wire(wire) {}
};

QStringList WithValue(const QStringList &words, const QString &value)
{
    QStringList out;
    for (const QString &word : words)
        out.append(word.contains(QLatin1String("%1")) ? QString(word).replace(QLatin1String("%1"), value) : word);
    return out;
}

const QLocale kGerman(QLocale::German, QLocale::Germany);
const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

// Values no number field takes, in any regional settings: text, nothing, huge
// numbers, other separators, digits of other scripts, a euro sign, an emoji
// (two UTF-16 units), a line break, hexadecimal, nan and inf.
const QStringList kNotANumber = {"abc", QString(), "1e308", "99999999999999999999", QString(5000, u'9'),
                                 "1,5", "1.000,5", "1'000", "1\u00A0000", "\uFF15", "\u0663", "\u20AC",
                                 "\U0001F600", "1\n2", "0x10", "nan", "inf"};

// Values no whole-number field takes, besides those.
const QStringList kNotAWholeNumber = {"1.5", "1.000", "-1", "+-1", "2147483648"};

void ExpectRefused(const CtlBench &bench, const Argument &argument, const QString &value, const QLocale &locale)
{
    const QStringList arguments = WithValue(argument.words, value);
    const CtlResult result = bench.Run(arguments, locale);
    EXPECT_EQ(result.code, cli::kExitUsage) << Describe(arguments, result);
    // One line, named as r310ctl's, and nothing in it that is no text.
    const QStringList lines = result.errLines();
    ASSERT_EQ(lines.size(), 1) << Describe(arguments, result);
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("r310ctl: "))) << Describe(arguments, result);
    EXPECT_LE(lines.first().size(), 400 + value.size()) << Describe(arguments, result);
    for (const QChar c : lines.first())
        EXPECT_TRUE(c.isPrint() || c.isSurrogate()) << Describe(arguments, result);
    EXPECT_FALSE(lines.first().contains(QChar::ReplacementCharacter)) << Describe(arguments, result);
    EXPECT_EQ(result.writes(), 0) << Describe(arguments, result);
    if (argument.wire == Wire::Nothing) {
        EXPECT_TRUE(result.heard.empty()) << Describe(arguments, result);
    }
}

void ExpectAllRefused(const std::vector<Argument> &arguments, const QStringList &values,
                      const std::vector<QLocale> &locales = {kEnglish})
{
    CtlBench bench;
    for (const Argument &argument : arguments) {
        for (const QString &value : values) {
            for (const QLocale &locale : locales)
                ExpectRefused(bench, argument, value, locale);
        }
    }
}

} // namespace

TEST(CtlBadInput, WholeNumberOptionsRefuseWhatIsNoWholeNumberBeforeOpeningThePort)
{
    const std::vector<Argument> arguments = {{"--timeout-s %1 info", Wire::Nothing},
                                             {"watch --samples %1", Wire::Nothing},
                                             {"clear events --max %1 --yes", Wire::Nothing},
                                             {"factory-setup --serial %1 --yes", Wire::Nothing}};
    ExpectAllRefused(arguments, kNotANumber + kNotAWholeNumber, {kEnglish, kGerman});
    // Beyond their ranges.
    ExpectAllRefused({arguments[0]}, {"2000001"});
    ExpectAllRefused({arguments[2]}, {"0", "514", "65536"});
    ExpectAllRefused({arguments[3]}, {"0", "100000000"});
}

TEST(CtlBadInput, TheCalibrationGasTakesOnlyADecimalNumberWithAPoint)
{
    const Argument span{"calibrate span %1", Wire::Nothing};
    ExpectAllRefused({span}, kNotANumber, {kEnglish, kGerman});
    // A negative number is no word of a command; the message says so.
    for (const QString negative : {"-1", "-0.5", "-.5"}) {
        CtlBench bench;
        const CtlResult result = bench.Run(WithValue(span.words, negative));
        EXPECT_EQ(result.code, cli::kExitUsage);
        EXPECT_EQ(result.err, QStringLiteral("r310ctl: \"%1\" is read as an option: a negative number cannot be "
                                             "given here (see r310ctl --help)\n")
                                  .arg(negative));
        EXPECT_TRUE(result.heard.empty());
    }
    // "." is the decimal point in every regional setting; a line break typed
    // into the value shows as \x0a, so the message stays one line.
    CtlBench bench;
    const QString message = QStringLiteral("r310ctl: '%1' is not a valid floating point value (\".\" is the decimal "
                                           "point)\n");
    EXPECT_EQ(bench.Run(WithValue(span.words, "1,5"), kGerman).err, message.arg("1,5"));
    EXPECT_EQ(bench.Run(WithValue(span.words, "1\n2")).err, message.arg("1\\x0a2"));
}

TEST(CtlBadInput, WordsThatNameNothingAreRefused)
{
    const QStringList words = {"abc", QString(), "LOCK\n", "\uFF4C\uFF4F\uFF43\uFF4B",
                               "\U0001F600", QString(5000, u'x')};
    ExpectAllRefused({{"function %1 --yes", Wire::Nothing}, {"clear %1 --yes", Wire::Nothing},
                      {"help %1", Wire::Nothing}},
                     words);
    // As the command itself (an empty one shows the overview besides).
    ExpectAllRefused({{"%1", Wire::Nothing}}, words.mid(2));
    // Options without their value, or empty.
    CtlBench bench;
    for (const QStringList &arguments : {QStringList{"info", "--timeout-s"}, QStringList{"events", "--out", QString()},
                                         QStringList{"factory-setup", "--serial", QString(), "--yes"},
                                         QStringList{"watch", "--samples"}}) {
        const CtlResult result = bench.Run(arguments);
        EXPECT_EQ(result.code, cli::kExitUsage) << Describe(arguments, result);
        EXPECT_EQ(result.errLines().size(), 1) << Describe(arguments, result);
        EXPECT_TRUE(result.heard.empty()) << Describe(arguments, result);
    }
}

TEST(CtlBadInput, FactoryCustomerIdsOfOtherCharactersNameTheWholeCharacter)
{
    const Argument id{"factory-setup --serial 5 --customer-id %1 --yes", Wire::Nothing};
    ExpectAllRefused({id}, {"\u20AC", "\U0001F600", "\u00E4", "\u0663", "A;B", "ABCDEFGHIJ", "A\nB",
                            QString(5000, u'A')});
    CtlBench bench;
    const CtlResult emoji = bench.Run(WithValue(id.words, "AB\U0001F600"));
    EXPECT_EQ(emoji.err, QStringLiteral("r310ctl: The customer ID \"AB\U0001F600\" holds \"\U0001F600\": only A to "
                                        "Z, 0 to 9, blank, comma, hyphen and full stop are taken\n"));
}

TEST(CtlBadInput, SettingsValuesAreRefusedBeforeAnythingIsWritten)
{
    ExpectAllRefused({{"set a1=%1", Wire::NoWrites}, {"set cal-gas=%1", Wire::NoWrites}}, kNotANumber,
                     {kEnglish, kGerman});
    ExpectAllRefused({{"set bleep-interval=%1", Wire::NoWrites}, {"set bump-interval=%1", Wire::NoWrites},
                      {"set cal-interval=%1", Wire::NoWrites}, {"set bump-info=%1", Wire::NoWrites},
                      {"set logger-interval=%1", Wire::NoWrites}},
                     kNotANumber + kNotAWholeNumber);
    ExpectAllRefused({{"set a1-latching=%1", Wire::NoWrites}, {"set vibrator=%1", Wire::NoWrites}},
                     {"abc", QString(), "\uFF4F\uFF4E", "on\n"});

    // The customer ID takes one byte a character: the whole character is named.
    ExpectAllRefused({{"set customer-id=%1", Wire::NoWrites}},
                     {"\u20AC", "\U0001F600", "\u0663", "ABCDEFGHIJ", QString(5000, u'A')});
    CtlBench bench;
    const CtlResult emoji = bench.Run("set customer-id=\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600");
    EXPECT_EQ(emoji.code, cli::kExitUsage);
    clitest::ExpectContains(emoji.err, {"\"\U0001F600\" (U+1f600) is not a character of one byte"});
}

TEST(CtlBadInput, PortNamesThatNameNoPortAndFilesThatCannotBeWrittenEndWithTheirCodes)
{
    CtlBench bench;
    // A name that is no serial port: 4, as for a port that cannot be opened.
    for (const QString &port : {QString("\U0001F600"), QString(300, u'x'), QString("COM999"), QString("-1"),
                                QString("a\nb"), QString("/")}) {
        const QStringList arguments = WithValue(clitest::Words("--port %1 --timeout-s 1 info"), port);
        const CtlResult result = bench.Run(arguments, kEnglish, false);
        EXPECT_EQ(result.code, cli::kExitPortUnavailable) << Describe(arguments, result);
        EXPECT_EQ(result.errLines().size(), 1) << Describe(arguments, result);
        EXPECT_FALSE(result.err.contains(QChar::ReplacementCharacter)) << Describe(arguments, result);
    }
    const CtlResult empty = bench.Run({"--port", QString(), "info"}, kEnglish, false);
    EXPECT_EQ(empty.code, cli::kExitUsage);
    EXPECT_EQ(empty.err, QStringLiteral("r310ctl: --port needs a device name (see r310ctl --help)\n"));

    // An export file that cannot be created: 9, and the download wrote nothing to the instrument.
    QTemporaryDir directory;
    for (const QString &out : {directory.path(), directory.filePath(QStringLiteral("missing/logger.csv"))}) {
        for (const char *command : {"events", "datalog"}) {
            const QStringList arguments = {QLatin1String(command), QStringLiteral("--out"), out};
            const CtlResult result = bench.Run(arguments);
            EXPECT_EQ(result.code, cli::kExitCannotWrite) << Describe(arguments, result);
            EXPECT_EQ(result.errLines().size(), 1) << Describe(arguments, result);
            EXPECT_EQ(result.writes(), 0);
        }
    }
}
