#pragma once
// What each software version of the instrument offers. Plain C++, so the
// simulated instrument follows the same versions as the answer decoder.
#include <cstdint>

namespace r310 {

// First software version (in hundredths: 210 is 2.10) with each feature.
constexpr std::int32_t kEventPropertiesFromVersion = 210;  // Event properties tab
constexpr std::int32_t kDataloggingFromVersion = 211;      // Datalogging tab
constexpr std::int32_t kMaxEventsEditableFromVersion = 211;
constexpr std::int32_t kSafetyOptionsFromVersion = 220;    // data safety mode, best resolution
constexpr std::int32_t kDisplayModeFromVersion = 221;      // second value on the display

// What the instrument's software version allows (shown tabs, editable and
// enabled options).
struct FeatureGates {
    bool eventPropertiesTabVisible = false;
    bool dataloggingTabVisible = false;
    bool maxEventsEditable = false;
    bool safetyOptionsEnabled = false;
    bool displayModeEnabled = false;
};

constexpr FeatureGates GatesForVersion(std::int32_t softwareVersion)
{
    FeatureGates gates;
    gates.eventPropertiesTabVisible = softwareVersion >= kEventPropertiesFromVersion;
    gates.dataloggingTabVisible = softwareVersion >= kDataloggingFromVersion;
    gates.maxEventsEditable = softwareVersion >= kMaxEventsEditableFromVersion;
    gates.safetyOptionsEnabled = softwareVersion >= kSafetyOptionsFromVersion;
    gates.displayModeEnabled = softwareVersion >= kDisplayModeFromVersion;
    return gates;
}

} // namespace r310
