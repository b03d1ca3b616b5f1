// VykTool and KALTEX32 as Windows programs bind them: each DLL loaded with
// LoadLibrary from the folder of this program, VykTool's eighteen routines
// found with GetProcAddress by their exact names and KALTEX32's two by
// ordinal 2 and 3. The library suites then run on Windows' own C runtime and
// type sizes.
//
// On 32-bit Windows every call goes through a wrapper that compares the stack
// pointer before and after it: a routine that removes more or fewer argument
// bytes than its stdcall declaration says moves the caller's stack.
#include "KaltexApi.h"
#include "VykToolApi.h"

#ifndef NOMINMAX // the C++ library may have set it already
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string NextToProgram(const char *file)
{
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    folder.erase(folder.find_last_of("\\/") + 1);
    return folder + file;
}

struct Module {
    explicit Module(const char *file) : path(NextToProgram(file)), handle(LoadLibraryA(path.c_str()))
    {
        if (handle == nullptr)
            error = "LoadLibrary " + path + " failed with error " + std::to_string(GetLastError());
    }
    ~Module()
    {
        if (handle != nullptr)
            FreeLibrary(handle);
    }
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;

    template <typename F>
    void Find(F &slot, const char *nameOrOrdinal, const std::string &label)
    {
        if (handle == nullptr)
            return;
        slot = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(handle, nameOrOrdinal)));
        if (slot == nullptr && error.empty())
            error = path + " does not export " + label;
    }

    std::string path;
    HMODULE handle;
    std::string error;
};

#if defined(__i386__)
// The routines as GetProcAddress returned them.
const VykToolApi &VykToolExports();
const KaltexApi &KaltexExports();

std::uintptr_t StackPointer()
{
    std::uintptr_t sp;
    asm volatile("movl %%esp, %0" : "=r"(sp) : : "memory");
    return sp;
}

// Calls the routine in Table::*Slot of the found exports and fails the
// running test when the call leaves the stack pointer elsewhere.
template <typename Table, const Table &(*Exports)(), auto Slot, typename F>
struct Checked;

template <typename Table, const Table &(*Exports)(), auto Slot, typename R, typename... A>
struct Checked<Table, Exports, Slot, R(__stdcall *)(A...)> {
    static R __stdcall Call(A... args)
    {
        const std::uintptr_t before = StackPointer();
        R result = (Exports().*Slot)(args...);
        const std::uintptr_t after = StackPointer();
        EXPECT_EQ(after, before) << "the stack moved by " << static_cast<long>(after - before)
                                 << " bytes over a call";
        return result;
    }
};
#define R310_CHECKED(Table, Exports, table, name) \
    table.name = &Checked<Table, Exports, &Table::name, decltype(table.name)>::Call;
#endif

struct VykToolBinding {
    Module module{"VykTool.dll"};
    VykToolApi exports{};
    VykToolApi api{}; // what the suite calls

    VykToolBinding()
    {
#define R310_FIND_BY_NAME(name) module.Find(exports.name, #name, #name);
        VYKTOOL_EXPORT_NAMES(R310_FIND_BY_NAME)
#undef R310_FIND_BY_NAME
        api = exports;
#if defined(__i386__)
#define R310_WRAP(name) R310_CHECKED(VykToolApi, VykToolExports, api, name)
        VYKTOOL_EXPORT_NAMES(R310_WRAP)
#undef R310_WRAP
#endif
    }
};

const VykToolBinding &VykTool()
{
    static const VykToolBinding binding;
    return binding;
}

struct KaltexBinding {
    Module module{"KALTEX32.dll"};
    KaltexApi exports;
    KaltexApi api;

    KaltexBinding()
    {
        module.Find(exports.GasNameText, MAKEINTRESOURCEA(2), "ordinal 2");
        module.Find(exports.GasUnitText, MAKEINTRESOURCEA(3), "ordinal 3");
        api = exports;
#if defined(__i386__)
        R310_CHECKED(KaltexApi, KaltexExports, api, GasNameText)
        R310_CHECKED(KaltexApi, KaltexExports, api, GasUnitText)
#endif
    }
};

const KaltexBinding &Kaltex()
{
    static const KaltexBinding binding;
    return binding;
}

#if defined(__i386__)
const VykToolApi &VykToolExports()
{
    return VykTool().exports;
}

const KaltexApi &KaltexExports()
{
    return Kaltex().exports;
}
#endif

} // namespace

extern "C" const VykToolApi *VykToolUnderTest(void)
{
    return VykTool().module.error.empty() ? &VykTool().api : nullptr;
}

const KaltexApi *KaltexUnderTest()
{
    return Kaltex().module.error.empty() ? &Kaltex().api : nullptr;
}

const char *KaltexBindError()
{
    return Kaltex().module.error.c_str();
}

TEST(WindowsBinding, BothDllsLoadAndExportEveryRoutine)
{
    EXPECT_EQ(VykTool().module.error, "");
    EXPECT_EQ(Kaltex().module.error, "");
    // The ordinals are the named routines, not two others.
    ASSERT_NE(Kaltex().module.handle, nullptr);
    EXPECT_EQ(reinterpret_cast<void *>(GetProcAddress(Kaltex().module.handle, "GasNameText")),
              reinterpret_cast<void *>(Kaltex().exports.GasNameText));
    EXPECT_EQ(reinterpret_cast<void *>(GetProcAddress(Kaltex().module.handle, "GasUnitText")),
              reinterpret_cast<void *>(Kaltex().exports.GasUnitText));
}

TEST(WindowsBinding, SysTimeSekCountsWindowsLocalTimeSince1980)
{
    const VykToolApi *api = VykToolUnderTest();
    ASSERT_NE(api, nullptr);
    // Windows' own calendar: 100-nanosecond ticks between the two local times.
    const auto ticks = [](const SYSTEMTIME &time) {
        FILETIME file{};
        EXPECT_TRUE(SystemTimeToFileTime(&time, &file));
        return (static_cast<std::int64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    };
    SYSTEMTIME epoch{};
    epoch.wYear = 1980;
    epoch.wMonth = 1;
    epoch.wDay = 1;
    SYSTEMTIME now{};
    GetLocalTime(&now);
    const std::int64_t expected = (ticks(now) - ticks(epoch)) / 10000000;
    const std::int32_t seconds = api->SysTimeSek();
    // The clock may tick between the two readings, and the count is rounded.
    EXPECT_GE(seconds, expected);
    EXPECT_LE(seconds, expected + 2);
}

TEST(WindowsBinding, GetSysLangFollowsTheUsersLanguage)
{
    const VykToolApi *api = VykToolUnderTest();
    ASSERT_NE(api, nullptr);
    // Under Wine the user's language follows the locale of the environment,
    // which the test run sets together with the expected answer.
    const char *expected = std::getenv("R310_EXPECTED_LANGUAGE");
    if (expected == nullptr)
        GTEST_SKIP() << "R310_EXPECTED_LANGUAGE not set";
    EXPECT_EQ(api->GetSysLang(), std::atoi(expected)) << "language id " << GetUserDefaultLangID();
}

namespace {

std::uint16_t X87Control()
{
    std::uint16_t control = 0;
    asm volatile("fnstcw %0" : "=m"(control));
    return control;
}

// The x87 unit's precision as the caller left it. Programs from Microsoft's
// compilers run with 53-bit precision, MinGW programs with 64-bit; the
// library's extended-precision arithmetic must give the same results under
// both. R310_X87_PRECISION=53 runs every test the first way.
const bool kCallersPrecision = [] {
    const char *bits = std::getenv("R310_X87_PRECISION");
    if (bits == nullptr || std::string(bits) != "53")
        return false;
    const auto control = static_cast<std::uint16_t>((X87Control() & ~0x300u) | 0x200u);
    asm volatile("fldcw %0" : : "m"(control));
    std::printf("x87 precision: 53 bits\n");
    return true;
}();

} // namespace

TEST(WindowsBinding, TheCallersX87SettingIsGivenBack)
{
    const VykToolApi *api = VykToolUnderTest();
    ASSERT_NE(api, nullptr);
    const std::uint16_t before = X87Control();
    api->SysTimeSek();
    api->SekToDateTime(1);
    api->DateTimeToSek(29221.5);
    api->ScalVal(1, 2, 3);
    api->Exp10(2);
    api->GetRealVal(1, 2);
    EXPECT_EQ(X87Control(), before);
}
