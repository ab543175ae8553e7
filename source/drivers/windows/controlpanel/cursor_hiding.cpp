#include "controlpanel/cursor_hiding.h"

#include "controlpanel/resource.h"

namespace kav::cpl {
namespace {

constexpr std::string_view kHiddenCursorFile = "%SYSTEMROOT%\\Cursors\\null.cur";

bool IsHidden(const std::optional<RegistryValue>& value) {
    return value && value->data.find(kHiddenCursorFile) == 0;
}

// A value the user chose: neither ours nor the default.
bool IsUsersOwn(const std::optional<RegistryValue>& value) {
    return value && !IsHidden(value) && !value->data.empty() && value->data.front() != '\0';
}

}  // namespace

RegistryValue HiddenCursorValue() {
    RegistryValue value{kRegExpandSz, std::string(kHiddenCursorFile)};
    value.data.push_back('\0');
    return value;
}

RegistryValue ShownCursorValue() {
    return {kRegExpandSz, {}};
}

void HideSystemCursors(CursorSystem& system) {
    const std::unique_ptr<RegistryKey> cursors = system.OpenUserKey(kCursorsKey);
    if (!cursors) return;
    const std::unique_ptr<RegistryKey> saved = system.CreateUserKey(kSavedCursorsKey);
    for (std::string_view roleView : kCursorRoles) {
        const std::string role(roleView);
        const std::optional<RegistryValue> current = cursors->Query(role);
        // Hiding twice must not remember our own empty cursor as the user's choice.
        if (saved && !IsHidden(current)) saved->Set(role, current.value_or(ShownCursorValue()));
        cursors->Set(role, HiddenCursorValue());
    }
}

void RestoreSystemCursors(CursorSystem& system) {
    const std::unique_ptr<RegistryKey> cursors = system.OpenUserKey(kCursorsKey);
    if (!cursors) return;
    const std::unique_ptr<RegistryKey> saved = system.OpenUserKey(kSavedCursorsKey);
    for (std::string_view roleView : kCursorRoles) {
        const std::string role(roleView);
        const std::optional<RegistryValue> current = cursors->Query(role);
        const std::optional<RegistryValue> before = saved ? saved->Query(role) : std::nullopt;
        if (saved) saved->Delete(role);
        // A role the user changed since we hid it, or never hidden, stays as the user set it.
        if (IsUsersOwn(current)) continue;
        cursors->Set(role, IsHidden(current) && before ? *before : ShownCursorValue());
    }
}

void ApplyCursorState(CursorSystem& system, bool hide) {
    system.InstallNormalCursor(hide ? IDC_CURSOR_BLANK : IDC_CURSOR_ARROW);
    if (hide) {
        HideSystemCursors(system);
    } else {
        RestoreSystemCursors(system);
    }
    // Twice in a row, as KavCpl has always asked; the cost is nil.
    system.ReloadSystemCursors();
    system.ReloadSystemCursors();
}

}  // namespace kav::cpl
