// The settings-profile parser fed arbitrary files.
//
// Input: the bytes of a profile file.
//
// Checked: a file gives a profile or says why not, never both; every
// setting of a profile has a key of `r310ctl set` (or the logger's
// interval) and a value that key's check takes, in the order of the key
// table, each key once; and a profile written back as JSON reads again to
// the same profile.
#include "FuzzInput.h"

#include <SettingsKeys.h>
#include <SettingsProfile.h>

#include <QStringList>

namespace {

using namespace r310;

// Where a key stands in a profile: the key table's order, the logger's interval last.
int KeyPosition(const QString &key)
{
    const std::vector<SettingsKey> &keys = SettingsKeys();
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].name == key)
            return static_cast<int>(i);
    }
    return key == kLoggerIntervalKey ? static_cast<int>(keys.size()) : -1;
}

void CheckSettings(const SettingsProfile &profile)
{
    int previous = -1;
    for (const ProfileSetting &setting : profile.settings) {
        const int position = KeyPosition(setting.key);
        FUZZ_CHECK(position >= 0);
        FUZZ_CHECK(position > previous);
        previous = position;
        if (const SettingsKey *key = FindSettingsKey(setting.key))
            FUZZ_CHECK(key->check(setting.value).isEmpty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const SettingsProfileParse parsed = ParseSettingsProfile(bytes);
    FUZZ_CHECK(parsed.profile.has_value() == parsed.error.isEmpty());
    if (!parsed.profile)
        return 0;
    CheckSettings(*parsed.profile);

    const QByteArray written = SettingsProfileJson(*parsed.profile);
    const SettingsProfileParse again = ParseSettingsProfile(written);
    if (!again.profile)
        std::fprintf(stderr, "written profile refused: %s\n", qPrintable(again.error));
    FUZZ_CHECK(again.profile.has_value());
    FUZZ_CHECK(*again.profile == *parsed.profile);
    return 0;
}
