// The r310sim program end to end: it prints its pseudo-terminal, answers
// frames there across repeated opens, and ends cleanly on SIGTERM.
#include <R310_typ.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The program lies in the build folder, one level above this test.
std::string Program()
{
    if (const char *dir = std::getenv("R310_BUILD_DIR"))
        return std::string(dir) + "/r310sim";
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<std::size_t>(n) : 0);
    for (int up = 0; up < 2 && path.find('/') != std::string::npos; ++up)
        path.erase(path.rfind('/'));
    return path + "/r310sim";
}

struct Child {
    pid_t pid = -1;
    int out = -1;
};

// Starts r310sim with stdout (and stderr too when mergeErrors) on a pipe.
Child Start(const std::vector<std::string> &args, bool mergeErrors = false)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        if (mergeErrors)
            ::dup2(pipeFds[1], STDERR_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char *> argv;
        const std::string program = Program();
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        std::_Exit(127);
    }
    ::close(pipeFds[1]);
    return Child{pid, pipeFds[0]};
}

// Reads one line from fd, waiting at most two seconds.
std::string ReadLine(int fd)
{
    std::string line;
    char c = 0;
    while (line.size() < 256) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 2000) <= 0 || ::read(fd, &c, 1) != 1 || c == '\n')
            break;
        line += c;
    }
    return line;
}

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

// Waits up to five seconds for the child; returns its wait status or -1.
int WaitFor(pid_t pid)
{
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

} // namespace

TEST(SimProgram, ServesFramesOnItsTerminalAndEndsOnSigterm)
{
    Child child = Start({"--software=221", "--serial=777", "--log"}, true);
    ASSERT_GT(child.pid, 0);
    const std::string path = ReadLine(child.out);
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

    ASSERT_EQ(::kill(child.pid, SIGTERM), 0);
    const int status = WaitFor(child.pid);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    struct stat info {};
    EXPECT_NE(::stat(path.c_str(), &info), 0) << "the terminal is gone";

    std::string log;
    char buffer[4096];
    for (ssize_t n; (n = ::read(child.out, buffer, sizeof buffer)) > 0;)
        log.append(buffer, static_cast<std::size_t>(n));
    ::close(child.out);
    EXPECT_NE(log.find(" -> 56 59 4B 34 01 60 00 A5 9F\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" <- 56 59 4B 34 01 C0 00 "), std::string::npos) << log;
}

TEST(SimProgram, HelpDocumentsOptionsScenarioKeysAndFaults)
{
    Child child = Start({"--help"});
    ASSERT_GT(child.pid, 0);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(child.out, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    const int status = WaitFor(child.pid);
    ::close(child.out);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (const char *word : {"--log", "--no-pacing", "--scenario", "software", "events", "block<N>", "no_answer",
                             "line_drop_after", "clock_readonly", "SIGTERM"})
        EXPECT_NE(text.find(word), std::string::npos) << word;
}

TEST(SimProgram, RefusesUnknownOptions)
{
    Child child = Start({"--frobnicate"});
    ASSERT_GT(child.pid, 0);
    const int status = WaitFor(child.pid);
    ::close(child.out);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}
