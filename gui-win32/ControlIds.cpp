#include "gui-win32/ControlIds.h"

#include "app/ControlNames.h"

namespace raid::win {

namespace {
// Clear of IDOK/IDCANCEL and the low numbers dialogs use.
constexpr int kBase = 1000;
}  // namespace

int controlId(const std::string& name) {
    const std::vector<std::string>& all = names::all();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i] == name) return kBase + static_cast<int>(i);
    return 0;
}

std::string controlNameOfId(int id) {
    const std::vector<std::string>& all = names::all();
    if (id < kBase || static_cast<std::size_t>(id - kBase) >= all.size()) return {};
    return all[static_cast<std::size_t>(id - kBase)];
}

std::string controlName(HWND hwnd) {
    if (!hwnd || (GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CHILD) == 0) return {};
    return controlNameOfId(GetDlgCtrlID(hwnd));
}

HWND findControl(HWND root, const std::string& name) {
    struct Search {
        int id;
        HWND found;
    } search{controlId(name), nullptr};
    if (!root || search.id == 0) return nullptr;
    EnumChildWindows(
        root,
        [](HWND child, LPARAM lp) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lp);
            if (GetDlgCtrlID(child) != s->id) return TRUE;
            s->found = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace raid::win
