// The r310sim program end to end: it prints its pseudo-terminal, answers
// frames there across repeated opens, and ends cleanly on SIGTERM.
#include "BuildPrograms.h"
#include "TestApplication.h"

#include <R310_typ.h>

#include <QProcess>

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

int OpenRaw(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return fd;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    return fd;
}

// Sends a request and assembles the answer as the configurator does.
r310::Frame Exchange(int fd, const Bytes &request, std::int32_t &status)
{
    status = 0;
    if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
        return {};
    r310::ReceiveBuffer buffer;
    std::uint8_t b = 0;
    while (status == 0) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 1000) <= 0 || ::read(fd, &b, 1) != 1)
            return {};
        status = r310::AssembleByte(b, buffer);
    }
    return status == 1 ? r310::FrameFromBuffer(buffer) : r310::Frame{};
}

} // namespace

TEST(SimProgram, ServesFramesOnItsTerminalAndEndsOnSigterm)
{
    r310test::EnsureApplication();
    r310test::SimulatorProcess simulator({"--software=221", "--serial=777", "--log"}, QProcess::MergedChannels);
    QProcess &program = simulator.process();
    const std::string path = simulator.device().toStdString();
    ASSERT_EQ(path.rfind("/dev/", 0), 0u) << "first line: " << path;

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        const int fd = OpenRaw(path);
        ASSERT_GE(fd, 0);
        std::int32_t status = 0;
        r310::RequestBuffer request{};
        r310::BuildConnectRequest(request);
        EXPECT_EQ(Exchange(fd, Bytes(request.begin(), request.begin() + 9), status).object, 1);
        EXPECT_EQ(status, 1);

        r310::BuildReadRequest(2, request);
        const r310::Frame identity = Exchange(fd, Bytes(request.begin(), request.begin() + 9), status);
        ASSERT_EQ(status, 1);
        EXPECT_EQ(identity.flags, 0xC0);
        ASSERT_EQ(identity.payload.size(), 21u);
        EXPECT_EQ(identity.payload[0] | (identity.payload[1] << 8), 777);
        EXPECT_EQ(identity.payload[8] | (identity.payload[9] << 8), 221);
        ::close(fd);
    }

    program.terminate(); // SIGTERM
    ASSERT_TRUE(program.waitForFinished(5000));
    ASSERT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    struct stat info {};
    EXPECT_NE(::stat(path.c_str(), &info), 0) << "the terminal is gone";

    const std::string log = program.readAll().toStdString();
    EXPECT_NE(log.find(" -> 56 59 4B 34 01 60 00 A5 9F\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" <- 56 59 4B 34 01 C0 00 "), std::string::npos) << log;
}

TEST(SimProgram, HelpDocumentsOptionsScenarioKeysAndFaults)
{
    r310test::EnsureApplication();
    QProcess program;
    program.start(r310test::BuildProgram(QStringLiteral("r310sim")), {QStringLiteral("--help")});
    ASSERT_TRUE(program.waitForFinished(5000));
    ASSERT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    const std::string text = program.readAllStandardOutput().toStdString();
    for (const char *word : {"--log", "--no-pacing", "--scenario", "software", "events", "block<N>", "no_answer",
                             "wrong_object", "line_drop_after", "clock_readonly", "SIGTERM"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
}

TEST(SimProgram, RefusesUnknownOptions)
{
    r310test::EnsureApplication();
    QProcess program;
    program.start(r310test::BuildProgram(QStringLiteral("r310sim")), {QStringLiteral("--frobnicate")});
    ASSERT_TRUE(program.waitForFinished(5000));
    ASSERT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 2);
}
