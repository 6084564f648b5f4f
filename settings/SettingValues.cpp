#include "settings/SettingValues.h"

#include <cstddef>
#include <cstdint>
#include <vector>

DisplaySettings DefaultDisplaySettings()
{
    // The table's rows point into the process-wide block. The same rows,
    // moved to the same members of a block of our own, reset that one
    // instead; the rows of the separate integers are left out.
    DisplaySettings settings;
    const auto nGlobal = reinterpret_cast<std::uintptr_t>(&g_DisplaySettings);
    auto *pLocal = reinterpret_cast<std::byte *>(&settings);
    std::vector<SettingsRow> rows;
    for (SettingsRow row : SettingsTable()) {
        const auto nTarget = reinterpret_cast<std::uintptr_t>(row.pTarget);
        if (nTarget < nGlobal || nTarget >= nGlobal + sizeof(DisplaySettings))
            continue;
        row.pTarget = pLocal + (nTarget - nGlobal);
        rows.push_back(row);
    }
    ResetSettingsRows(rows);
    return settings;
}
