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

// One argument: the words around its value (%1).
struct Argument {
    QStringList words;
    Wire wire;
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

// Values no number field takes, in any regional settings.
const QStringList kNotANumber = {
    QStringLiteral("abc"),
    QString(),
    QStringLiteral("1e308"),
    QStringLiteral("99999999999999999999"),
    QString(5000, u'9'),
    QStringLiteral("1,5"),
    QStringLiteral("1.000,5"),
    QStringLiteral("1'000"),
    QStringLiteral("1\u00A0000"),
    QStringLiteral("\uFF15"),      // fullwidth five
    QStringLiteral("\u0663"),      // Arabic-Indic three
    QStringLiteral("\u20AC"),      // euro sign
    QStringLiteral("\U0001F600"),  // an emoji, two UTF-16 units
    QStringLiteral("1\n2"),
    QStringLiteral("0x10"),
    QStringLiteral("nan"),
    QStringLiteral("inf"),
};

// Values no whole-number field takes, besides those.
const QStringList kNotAWholeNumber = {QStringLiteral("1.5"), QStringLiteral("1.000"), QStringLiteral("-1"),
                                      QStringLiteral("+-1"), QStringLiteral("2147483648")};

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
    const std::vector<Argument> arguments = {
        {{QStringLiteral("--timeout-s"), QStringLiteral("%1"), QStringLiteral("info")}, Wire::Nothing},
        {{QStringLiteral("watch"), QStringLiteral("--samples"), QStringLiteral("%1")}, Wire::Nothing},
        {{QStringLiteral("clear"), QStringLiteral("events"), QStringLiteral("--max"), QStringLiteral("%1"),
          QStringLiteral("--yes")},
         Wire::Nothing},
        {{QStringLiteral("factory-setup"), QStringLiteral("--serial"), QStringLiteral("%1"), QStringLiteral("--yes")},
         Wire::Nothing},
    };
    ExpectAllRefused(arguments, kNotANumber + kNotAWholeNumber, {kEnglish, kGerman});
    // Beyond their ranges.
    ExpectAllRefused({arguments[0]}, {QStringLiteral("2000001")});
    ExpectAllRefused({arguments[2]}, {QStringLiteral("0"), QStringLiteral("514"), QStringLiteral("65536")});
    ExpectAllRefused({arguments[3]}, {QStringLiteral("0"), QStringLiteral("100000000")});
}

TEST(CtlBadInput, TheCalibrationGasTakesOnlyADecimalNumberWithAPoint)
{
    const Argument span{{QStringLiteral("calibrate"), QStringLiteral("span"), QStringLiteral("%1")}, Wire::Nothing};
    ExpectAllRefused({span}, kNotANumber, {kEnglish, kGerman});
    // A negative number is no word of a command; the message says so.
    for (const QString &negative : {QStringLiteral("-1"), QStringLiteral("-0.5"), QStringLiteral("-.5")}) {
        CtlBench bench;
        const CtlResult result = bench.Run(WithValue(span.words, negative));
        EXPECT_EQ(result.code, cli::kExitUsage);
        EXPECT_EQ(result.err, QStringLiteral("r310ctl: \"%1\" is read as an option: a negative number cannot be "
                                             "given here (see r310ctl --help)\n")
                                  .arg(negative));
        EXPECT_TRUE(result.heard.empty());
    }
    // "." is the decimal point in every regional setting; the message says so.
    CtlBench bench;
    const CtlResult german = bench.Run({QStringLiteral("calibrate"), QStringLiteral("span"), QStringLiteral("1,5")},
                                       kGerman);
    EXPECT_EQ(german.err,
              QStringLiteral("r310ctl: '1,5' is not a valid floating point value (\".\" is the decimal point)\n"));
    // A line break typed into the value shows as \x0a, so the message stays one line.
    const CtlResult broken = bench.Run({QStringLiteral("calibrate"), QStringLiteral("span"), QStringLiteral("1\n2")});
    EXPECT_EQ(broken.err,
              QStringLiteral("r310ctl: '1\\x0a2' is not a valid floating point value (\".\" is the decimal point)\n"));
}

TEST(CtlBadInput, WordsThatNameNothingAreRefused)
{
    const QStringList words = {QStringLiteral("abc"), QString(), QStringLiteral("LOCK\n"), QStringLiteral("\uFF4C\uFF4F\uFF43\uFF4B"),
                               QStringLiteral("\U0001F600"), QString(5000, u'x')};
    ExpectAllRefused({{{QStringLiteral("function"), QStringLiteral("%1"), QStringLiteral("--yes")}, Wire::Nothing},
                      {{QStringLiteral("clear"), QStringLiteral("%1"), QStringLiteral("--yes")}, Wire::Nothing},
                      {{QStringLiteral("help"), QStringLiteral("%1")}, Wire::Nothing}},
                     words);
    // As the command itself (an empty one shows the overview besides).
    ExpectAllRefused({{{QStringLiteral("%1")}, Wire::Nothing}}, words.mid(2));
    // Options without their value, or empty.
    CtlBench bench;
    for (const QStringList &arguments :
         {QStringList{QStringLiteral("info"), QStringLiteral("--timeout-s")},
          QStringList{QStringLiteral("events"), QStringLiteral("--out"), QString()},
          QStringList{QStringLiteral("factory-setup"), QStringLiteral("--serial"), QString(), QStringLiteral("--yes")},
          QStringList{QStringLiteral("watch"), QStringLiteral("--samples")}}) {
        const CtlResult result = bench.Run(arguments);
        EXPECT_EQ(result.code, cli::kExitUsage) << Describe(arguments, result);
        EXPECT_EQ(result.errLines().size(), 1) << Describe(arguments, result);
        EXPECT_TRUE(result.heard.empty()) << Describe(arguments, result);
    }
}

TEST(CtlBadInput, FactoryCustomerIdsOfOtherCharactersNameTheWholeCharacter)
{
    const Argument id{{QStringLiteral("factory-setup"), QStringLiteral("--serial"), QStringLiteral("5"),
                       QStringLiteral("--customer-id"), QStringLiteral("%1"), QStringLiteral("--yes")},
                      Wire::Nothing};
    ExpectAllRefused({id}, {QStringLiteral("\u20AC"), QStringLiteral("\U0001F600"), QStringLiteral("\u00E4"),
                            QStringLiteral("\u0663"), QStringLiteral("A;B"), QStringLiteral("ABCDEFGHIJ"),
                            QStringLiteral("A\nB"), QString(5000, u'A')});
    CtlBench bench;
    const CtlResult emoji = bench.Run(WithValue(id.words, QStringLiteral("AB\U0001F600")));
    EXPECT_EQ(emoji.err, QStringLiteral("r310ctl: The customer ID \"AB\U0001F600\" holds \"\U0001F600\": only A to "
                                        "Z, 0 to 9, blank, comma, hyphen and full stop are taken\n"));
}

TEST(CtlBadInput, SettingsValuesAreRefusedBeforeAnythingIsWritten)
{
    std::vector<Argument> numbers;
    for (const char *key : {"a1", "cal-gas"})
        numbers.push_back({{QStringLiteral("set"), QStringLiteral("%1=").arg(QLatin1String(key)) + QStringLiteral("%1")},
                           Wire::NoWrites});
    ExpectAllRefused(numbers, kNotANumber, {kEnglish, kGerman});

    std::vector<Argument> integers;
    for (const char *key : {"bleep-interval", "bump-interval", "cal-interval", "bump-info", "logger-interval"})
        integers.push_back(
            {{QStringLiteral("set"), QStringLiteral("%1=").arg(QLatin1String(key)) + QStringLiteral("%1")},
             Wire::NoWrites});
    ExpectAllRefused(integers, kNotANumber + kNotAWholeNumber);

    ExpectAllRefused({{{QStringLiteral("set"), QStringLiteral("a1-latching=%1")}, Wire::NoWrites},
                      {{QStringLiteral("set"), QStringLiteral("vibrator=%1")}, Wire::NoWrites}},
                     {QStringLiteral("abc"), QString(), QStringLiteral("\uFF4F\uFF4E"), QStringLiteral("on\n")});

    // The customer ID takes one byte a character: the whole character is named.
    ExpectAllRefused({{{QStringLiteral("set"), QStringLiteral("customer-id=%1")}, Wire::NoWrites}},
                     {QStringLiteral("\u20AC"), QStringLiteral("\U0001F600"), QStringLiteral("\u0663"),
                      QStringLiteral("ABCDEFGHIJ"), QString(5000, u'A')});
    CtlBench bench;
    const CtlResult emoji = bench.Run({QStringLiteral("set"), QStringLiteral("customer-id=\U0001F600\U0001F600\U0001F600\U0001F600\U0001F600")});
    EXPECT_EQ(emoji.code, cli::kExitUsage);
    EXPECT_TRUE(emoji.err.contains(QStringLiteral("\"\U0001F600\" (U+1f600) is not a character of one byte")))
        << emoji.err.toStdString();
}

TEST(CtlBadInput, PortNamesThatNameNoPortAndFilesThatCannotBeWrittenEndWithTheirCodes)
{
    CtlBench bench;
    // A name that is no serial port: 4, as for a port that cannot be opened.
    for (const QString &port : {QStringLiteral("\U0001F600"), QString(300, u'x'), QStringLiteral("COM999"),
                                QStringLiteral("-1"), QStringLiteral("a\nb"), QStringLiteral("/")}) {
        const QStringList arguments = {QStringLiteral("--port"), port, QStringLiteral("--timeout-s"),
                                       QStringLiteral("1"), QStringLiteral("info")};
        const CtlResult result = bench.Run(arguments, kEnglish, false);
        EXPECT_EQ(result.code, cli::kExitPortUnavailable) << Describe(arguments, result);
        EXPECT_EQ(result.errLines().size(), 1) << Describe(arguments, result);
        EXPECT_FALSE(result.err.contains(QChar::ReplacementCharacter)) << Describe(arguments, result);
    }
    const CtlResult empty = bench.Run({QStringLiteral("--port"), QString(), QStringLiteral("info")}, kEnglish, false);
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
