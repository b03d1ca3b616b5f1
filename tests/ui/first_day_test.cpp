// The window as a new technician meets it: limits the instrument could not act
// on are refused before anything is sent, nothing is erased by one click, and
// every action ends with a word on what happened or what to do next.
#include "UiRig.h"

#include <QStatusBar>
#include <ServiceFunction.h>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;

bool Heard(const std::vector<LineFrame> &frames, const std::string &name)
{
    return First(frames, name).has_value();
}

QString Notice(WindowRig &rig)
{
    return rig.w().status.StatusBar1->currentMessage();
}

RigOptions WithoutPoll()
{
    RigOptions options;
    options.idlePoll = false;
    return options;
}

TEST(FirstDay, LimitsOutsideTheRangeOrBetweenScaleStepsAreRefusedAndNothingIsSent)
{
    WindowRig rig; // 0 to 500 ppm, exponent 0
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Range));
    const RangeWidgets &r = rig.w().range;
    const struct {
        QLineEdit *field;
        const char *typed;
        const char *refusal; // empty: written
    } cases[] = {
        {r.alarms[0].edit, "600", "A1: 600 is outside the instrument's measuring range 0 to 500; nothing was sent"},
        {r.alarms[1].edit, "-5", "A2: -5 is outside the instrument's measuring range 0 to 500; nothing was sent"},
        {r.Edit_Cal, "35.5",
         "CAL Gas: 35.5 does not fit the instrument's scale; the nearest values it can hold are 35 and 36"},
        {r.alarms[1].edit, "61", ""},
    };
    for (const auto &c : cases) {
        const QString before = c.field->text();
        Type(c.field, QString::fromLatin1(c.typed));
        rig.dialogs.errors.clear();
        EXPECT_EQ(Heard(rig.During([&] { r.ButtonSetGW->click(); }), "W4"), *c.refusal == 0) << c.typed;
        EXPECT_EQ(rig.dialogs.errors.join(u'|').toStdString(), c.refusal) << c.typed;
        if (*c.refusal != 0)
            Type(c.field, before);
    }
    EXPECT_EQ(r.alarms[1].edit->text(), QStringLiteral("61"));
}

TEST(FirstDay, ClearAndDefaultAskFirstAndNoSendsNothing)
{
    WindowRig rig(WithoutPoll()); // 24 events, 6 logger blocks
    ASSERT_TRUE(rig.Connect());
    const QString unsaved =
        QStringLiteral(" They cannot be recovered. They were not downloaded and saved in this session.");
    const struct {
        InstrumentTab tab;
        QPushButton *button;
        int function; // item of "Function", or -1
        QString question;
        std::string write;
    } cases[] = {
        {InstrumentTab::EventProperties, rig.w().events.Button2, -1,
         QStringLiteral("Erase all 24 events in the instrument?") + unsaved, "W35"},
        {InstrumentTab::Datalogging, rig.w().logger.Button10, -1,
         QStringLiteral("Erase all 6 blocks of the data logger?") + unsaved, "W127"},
        {InstrumentTab::SpecialFunction, rig.w().special.Button9, 3,
         ServiceFunctionQuestion(ServiceCode::Default), "W127"},
        {InstrumentTab::SpecialFunction, rig.w().special.Button9, 2,
         ServiceFunctionQuestion(ServiceCode::Reset), "W127"},
    };
    EXPECT_TRUE(ServiceFunctionQuestion(ServiceCode::Default).contains(QLatin1String("alarm limits")));
    for (const auto &c : cases) {
        ASSERT_TRUE(rig.ShowTab(c.tab));
        if (c.function >= 0)
            rig.w().special.Funktion->item(c.function)->click();
        for (const bool yes : {false, true}) {
            rig.dialogs.questions.clear();
            rig.dialogs.questionAnswer = yes;
            const bool heard = Heard(rig.During([&] { c.button->click(); }), c.write);
            EXPECT_EQ(rig.dialogs.questions, QStringList{c.question});
            EXPECT_EQ(heard, yes) << c.write << " yes=" << yes;
        }
    }
    // "OFF" changes nothing for good: sent at once.
    rig.w().special.Funktion->item(0)->click();
    rig.dialogs.questions.clear();
    EXPECT_TRUE(Heard(rig.During([&] { rig.w().special.Button9->click(); }), "W127"));
    EXPECT_TRUE(rig.dialogs.questions.isEmpty());
}

TEST(FirstDay, SavedDownloadsSayWhereAndTheClearQuestionKnowsThem)
{
    WindowRig rig(WithoutPoll());
    ASSERT_TRUE(rig.Connect());
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // Reads on the tab into the file; the message and the status bar say where it went.
    const auto read = [&](InstrumentTab tab, QPushButton *button, const char *file, const char *saved) {
        rig.dialogs.messages.clear();
        ASSERT_TRUE(rig.ShowTab(tab));
        rig.dialogs.saveAnswer = folder.filePath(QString::fromLatin1(file));
        button->click();
        ASSERT_TRUE(SpinUntil([&] { return !rig.dialogs.messages.isEmpty(); }, 10s));
        const QString said = QString::fromLatin1(saved) + QDir::toNativeSeparators(rig.dialogs.saveAnswer);
        EXPECT_EQ(rig.dialogs.messages, QStringList{said});
        EXPECT_EQ(Notice(rig), said);
    };
    read(InstrumentTab::EventProperties, rig.w().events.Button1, "events.csv", "24 of 24 events read; saved to ");
    rig.dialogs.questionAnswer = false;
    rig.w().events.Button2->click();
    EXPECT_EQ(rig.dialogs.questions,
              QStringList{QStringLiteral("Erase all 24 events in the instrument? They cannot be recovered.")});
    read(InstrumentTab::Datalogging, rig.w().logger.Button8, "logger.csv", "6 data logger blocks read; saved to ");
    EXPECT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
}

TEST(FirstDay, ALoggerDownloadShowsBlockOfCountWithCancelBesideIt)
{
    RigOptions options = WithoutPoll();
    options.scenario.loggerBlocks = 400;
    // At the line's speed with the product's tick, so the download lasts.
    options.scenario.pacing = true;
    options.tick = 100ms;
    WindowRig rig(options);
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    const LoggerWidgets &l = rig.w().logger;
    auto *cancel = rig.window().findChild<QPushButton *>(QStringLiteral("ButtonCancelDownload"));
    ASSERT_NE(cancel, nullptr);
    EXPECT_FALSE(cancel->isEnabled());
    l.Button8->click();
    ASSERT_TRUE(SpinUntil([&] { return l.ProgressBar1->value() >= 2; }, 10s));
    EXPECT_TRUE(l.ProgressBar1->isTextVisible());
    EXPECT_EQ(l.ProgressBar1->text(), QStringLiteral("Block %1 of 400").arg(l.ProgressBar1->value()));
    EXPECT_TRUE(cancel->isVisible() && cancel->isEnabled());
    cancel->click();
    ASSERT_TRUE(SpinUntil([&] { return l.Button8->isEnabled(); }, 10s));
    ASSERT_TRUE(rig.Idle());
    EXPECT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_TRUE(Notice(rig).startsWith(QLatin1String("Data logger download cancelled at block ")))
        << Notice(rig).toStdString();
    EXPECT_FALSE(cancel->isEnabled());
    // The instrument stays connected: the next read goes out.
    EXPECT_TRUE(rig.window().connection()->portOpen());
    EXPECT_FALSE(rig.During([&] { EXPECT_TRUE(rig.ShowTab(InstrumentTab::General)); }).empty());
}

TEST(FirstDay, DamagedAnswersAreNamedAsSuch)
{
    RigOptions options = WithoutPoll();
    options.scenario.faults.badCrc.probability = 1.0;
    options.scenario.faults.objects = {kObjectLoggerBlock};
    WindowRig rig(options);
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    rig.w().logger.Button8->click();
    ASSERT_TRUE(SpinUntil([&] { return !rig.dialogs.errors.isEmpty(); }, 10s));
    EXPECT_EQ(rig.dialogs.errors, QStringList{QStringLiteral(
                                      "Data logger download stopped: the instrument's answers arrived damaged "
                                      "(checksum) at block 1 of 6. Nothing was saved")});
}

TEST(FirstDay, DamagedEventAnswersAreNamedAsSuch)
{
    // From the first event read on, every answer of the event log arrives
    // with a wrong checksum.
    RigOptions options = WithoutPoll();
    options.link = [](const QString &, const LineSettings &) -> std::unique_ptr<SerialBackend> {
        auto link = std::make_unique<sim::SimBackend>(FastScenario());
        link->setPacing(false);
        sim::Device *device = &link->device();
        device->setTrace([device, damaged = false](const sim::TraceEntry &entry) mutable {
            const bool eventRead = entry.kind == sim::TraceEntry::Kind::Request
                                   && entry.bytes[kOffsetObject] == kObjectEventRecord;
            if (damaged || !eventRead)
                return;
            damaged = true;
            sim::FaultPlan plan;
            plan.badCrc.probability = 1.0;
            plan.objects = {kObjectEventRecord, kObjectEventProperties};
            device->setFaults(plan);
        });
        return link;
    };
    WindowRig rig(options);
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
    rig.w().events.Button1->click();
    ASSERT_TRUE(SpinUntil([&] { return !rig.dialogs.errors.isEmpty(); }, 10s));
    EXPECT_TRUE(rig.dialogs.errors.front().startsWith(
        QLatin1String("The instrument's answers arrived damaged (checksum) at event ")))
        << rig.dialogs.errors.join(u'\n').toStdString();
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
}

TEST(FirstDay, AClockTheInstrumentDoesNotTakeIsSaid)
{
    RigOptions options;
    options.scenario.clockOffsetSeconds = 3600;
    options.scenario.faults.clockReadOnly = true;
    WindowRig rig(options);
    ASSERT_TRUE(rig.Connect());
    rig.dialogs.messages.clear();
    rig.w().general.ButtonTime->click();
    ASSERT_TRUE(SpinUntil([&] { return !rig.dialogs.messages.isEmpty(); }, 10s));
    EXPECT_TRUE(rig.dialogs.messages.front().startsWith(QLatin1String("The instrument did not take the time")))
        << rig.dialogs.messages.join(u'\n').toStdString();
}

TEST(FirstDay, NothingChosenSaysWhatToChoose)
{
    RigOptions options;
    options.arguments = {QStringLiteral("R310Conf")}; // no port at all
    WindowRig rig(options);
    // The first start says how to try the program without an instrument.
    EXPECT_TRUE(Notice(rig).contains(QLatin1String("--demo"))) << Notice(rig).toStdString();
    rig.w().control.Button12->click();
    ASSERT_EQ(rig.dialogs.messages.size(), 1);
    EXPECT_TRUE(rig.dialogs.messages.front().startsWith(QLatin1String("No serial port was found")));
    EXPECT_FALSE(rig.window().connection()->portOpen());

    rig.dialogs.messages.clear();
    rig.w().special.Funktion->setItemIndex(-1);
    rig.w().special.Button9->click();
    EXPECT_EQ(rig.dialogs.messages,
              QStringList{QStringLiteral("Choose a service function under \"Function\" first, then press Start.")});
}

TEST(FirstDay, ASilentPortSaysWhatToCheckAndTheSearchGoesOn)
{
    RigOptions options;
    options.scenario.faults.noAnswer.probability = 1.0;
    WindowRig rig(options); // 10 ms tick: the hint comes after 1 s
    rig.w().control.Button12->click();
    const QLatin1String hint("No instrument answers on sim");
    ASSERT_TRUE(SpinUntil([&] { return Notice(rig).startsWith(hint); }, 5s)) << Notice(rig).toStdString();
    EXPECT_TRUE(Notice(rig).contains(QLatin1String("r310ctl doctor")));
    EXPECT_EQ(rig.window().connection()->phase(), ConnectionPhase::Searching);
    const std::size_t heard = rig.line->size();
    SpinFor(100ms);
    EXPECT_GT(rig.line->size(), heard) << "the search goes on";
    rig.w().control.Button_ClosePort->click();
    ASSERT_TRUE(rig.Idle());
    EXPECT_TRUE(Notice(rig).isEmpty());
}

TEST(FirstDay, ThePortListIsReadAgainWhenClosedAndWhenOpened)
{
    auto ports = std::make_shared<QList<SerialPortDescription>>();
    RigOptions options;
    options.listPorts = [ports] { return *ports; };
    WindowRig rig(options);
    PortListBox &list = *rig.w().control.ComPortList;
    ASSERT_TRUE(rig.Connect());
    ports->append(SerialPortDescription{QStringLiteral("ttyUSB7")});
    rig.w().control.Button_ClosePort->click();
    ASSERT_TRUE(rig.Idle());
    EXPECT_GE(list.findText(QStringLiteral("ttyUSB7")), 1);
    EXPECT_EQ(list.currentText(), QStringLiteral("sim")) << "the port chosen stays chosen";

    ports->append(SerialPortDescription{QStringLiteral("ttyACM0")});
    list.showPopup();
    EXPECT_GE(list.findText(QStringLiteral("ttyACM0")), 1);
    list.hidePopup();
}

} // namespace
