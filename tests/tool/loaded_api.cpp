// VykTool loaded at run time, as programs in other languages use it: every
// routine found by its exact name, nothing else exported, and the dates the
// same as the configurator's own.
#include "SekDate.h"
#include "VykToolApi.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#if defined(__i386__) || defined(__x86_64__)
#include <fpu_control.h>
#endif

#include <cstdio>
#include <memory>
#include <random>
#include <set>
#include <string>

namespace {

const char *const kExportNames[] = {
#define VYKTOOL_NAME(name) #name,
    VYKTOOL_EXPORT_NAMES(VYKTOOL_NAME)
#undef VYKTOOL_NAME
};

struct LoadedLibrary {
    std::unique_ptr<void, int (*)(void *)> handle{dlopen(VYKTOOL_PATH, RTLD_NOW | RTLD_LOCAL), dlclose};
    VykToolApi api{};
    bool complete = false;

    LoadedLibrary()
    {
        if (!handle)
            return;
        complete = true;
#define VYKTOOL_RESOLVE(name)                                                          \
    api.name = reinterpret_cast<decltype(api.name)>(dlsym(handle.get(), #name));       \
    complete = complete && api.name != nullptr;
        VYKTOOL_EXPORT_NAMES(VYKTOOL_RESOLVE)
#undef VYKTOOL_RESOLVE
    }
};

const LoadedLibrary &Library()
{
    static const LoadedLibrary library;
    return library;
}

} // namespace

extern "C" const VykToolApi *VykToolUnderTest(void)
{
    return Library().complete ? &Library().api : nullptr;
}

TEST(VykToolLoaded, ResolvesAllEighteenNames)
{
    ASSERT_TRUE(Library().handle) << dlerror();
    for (const char *name : kExportNames)
        EXPECT_NE(dlsym(Library().handle.get(), name), nullptr) << name;
    EXPECT_TRUE(Library().complete);
}

TEST(VykToolLoaded, ExportsExactlyTheEighteenRoutines)
{
    const std::string command = std::string("nm -D --defined-only '") + VYKTOOL_PATH + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe)
        GTEST_SKIP() << "cannot run nm";
    std::set<std::string> exported;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        char type = 0;
        char name[256] = {};
        // "address type name"; absolute symbols may come without an address.
        if (std::sscanf(line, "%*s %c %255s", &type, name) == 2 || std::sscanf(line, " %c %255s", &type, name) == 2)
            exported.insert(name);
    }
    if (pclose(pipe.release()) != 0 && exported.empty())
        GTEST_SKIP() << "nm is not available";
    EXPECT_EQ(exported, std::set<std::string>(std::begin(kExportNames), std::end(kExportNames)));
}

TEST(VykToolLoaded, DatesAgreeWithTheConfiguratorsRoutines)
{
    const VykToolApi *api = VykToolUnderTest();
    ASSERT_NE(api, nullptr);
    std::mt19937_64 random(1980);
    std::uniform_int_distribution<std::int32_t> seconds(INT32_MIN, INT32_MAX);
    std::uniform_real_distribution<double> days(-1e6, 1e6);
    for (int i = 0; i < 200000; ++i) {
        const std::int32_t s = seconds(random);
        EXPECT_EQ(api->SekToDateTime(s), r310::SekToDateTime(s)) << s;
        const double d = i % 2 ? days(random) : r310::SekToDateTime(s) + (i % 7 - 3) / 172800.0;
        EXPECT_EQ(api->DateTimeToSek(d), r310::DateTimeToSek(d)) << d;
    }
    // The clock may tick between the two readings.
    const std::int32_t own = r310::SysTimeSek();
    EXPECT_LE(api->SysTimeSek() - own, 1);
    EXPECT_GE(api->SysTimeSek(), own);
}

#if defined(__i386__) || defined(__x86_64__)
// A caller may leave the x87 unit at 53-bit precision (as programs from
// Microsoft's compilers do); the extended-precision routines stay exact and
// give the caller's setting back.
TEST(VykToolLoaded, ExactUnderTheCallersX87Precision)
{
    const VykToolApi *api = VykToolUnderTest();
    ASSERT_NE(api, nullptr);
    fpu_control_t own = 0;
    _FPU_GETCW(own);
    const fpu_control_t caller = (own & ~_FPU_EXTENDED) | _FPU_DOUBLE;
    _FPU_SETCW(caller);
    const double powers[] = {api->Exp10(3), api->Exp10(-2), api->GetRealVal(5, 3)};
    const std::int32_t tie = api->DateTimeToSek(29221.0 + 3 / 256.0);
    const double day = api->SekToDateTime(3600);
    api->SysTimeSek();
    fpu_control_t after = 0;
    _FPU_GETCW(after);
    _FPU_SETCW(own);
    EXPECT_EQ(after, caller);
    EXPECT_EQ(powers[0], 1000.0);
    EXPECT_EQ(powers[1], 0.01);
    EXPECT_EQ(powers[2], 5000.0);
    EXPECT_EQ(tie, 1012);
    EXPECT_EQ(day, r310::SekToDateTime(3600));
}
#endif
