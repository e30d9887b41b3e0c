// The main window: what the user does, forwarded to the engine as its commands.
#include "gui-win32/MainWindow.h"

#include <algorithm>
#include <cmath>

#include <commctrl.h>

#include "app/AccessibleText.h"
#include "app/ControlNames.h"
#include "gui-win32/Text.h"
#include "gui-win32/WindowParts.h"
#include "gui-win32/pages/PageBuilder.h"

namespace raid::win {

using namespace detail;

bool MainWindow::translateKey(const MSG& msg) {
    if (!msg.hwnd || (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN)) return false;
    MainWindow* w = windowOf(msg.hwnd);
    if (!w) return false;
    // Every key below acts as a click, through the same path as the mouse (BM_CLICK).
    if (msg.message == WM_SYSKEYDOWN) {
        // Alt with a page's letter: that page's picture, if it can be clicked now (the
        // Upgrade page's before the first Status page, say, but no hidden one).
        const auto key = static_cast<char>(msg.wParam);
        if (!(HIWORD(msg.lParam) & KF_ALTDOWN) || key < 'A' || key > 'Z') return false;
        for (const auto& e : w->entries_) {
            if (e->kind != Kind::Image || access::describe(e->name).mnemonic != key) continue;
            if (IsWindowVisible(e->hwnd) && IsWindowEnabled(e->hwnd)) SendMessageW(e->hwnd, BM_CLICK, 0, 0);
            return true;  // taken either way: no beep for a page that cannot open yet
        }
        return false;
    }
    Entry* e = w->entryOf(msg.hwnd);
    if (!e) return false;
    const bool panel = e->kind == Kind::Container && e->name == names::Panel11;
    if ((e->kind == Kind::Image && msg.wParam == VK_RETURN) ||
        (panel && (msg.wParam == VK_RETURN || msg.wParam == VK_SPACE))) {
        SendMessageW(msg.hwnd, BM_CLICK, 0, 0);
        return true;
    }
    return false;
}

bool MainWindow::isEcho(Entry& e, const std::wstring& text) {
    for (std::size_t i = 0; i < e.echoes.size(); ++i) {
        if (e.echoes[i] == text) {
            e.echoes.erase(e.echoes.begin(), e.echoes.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return true;
        }
    }
    e.echoes.clear();
    return false;
}

void MainWindow::onEditChanged(Entry& e) {
    if (applying_) return;
    const std::wstring typed = windowText(e.hwnd);
    std::wstring text = typed;
    DWORD selStart = 0, selEnd = 0;
    SendMessageW(e.hwnd, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
    std::size_t caret = std::min<std::size_t>(selEnd, text.size());
    bool refused = false;
    // What a field takes is counted as the settings count it: bytes of UTF-8.
    if (e.byteLimit && utf8Bytes(text) > e.byteLimit) {
        refused = true;
        if (e.refuse) {
            text = e.last;
            caret = text.size();
        } else {
            // Take back what was just put before the caret, a whole character at a time.
            while (caret > 0 && utf8Bytes(text) > e.byteLimit) {
                const std::size_t n =
                    caret >= 2 && IS_LOW_SURROGATE(text[caret - 1]) && IS_HIGH_SURROGATE(text[caret - 2]) ? 2 : 1;
                text.erase(caret - n, n);
                caret -= n;
            }
            if (utf8Bytes(text) > e.byteLimit) {
                text = e.last;
                caret = text.size();
            }
        }
    }
    // A line break never reaches a one-line field (a pasted "\r\nRSET" would be a
    // command of its own to a mail server).
    if (e.kind == Kind::Edit) {
        std::wstring flat;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == L'\r' || text[i] == L'\n') {
                if (i < caret) --caret;
                continue;
            }
            flat += text[i];
        }
        text.swap(flat);
    }
    if (text != typed) {
        setText(e, text);
        SendMessageW(e.hwnd, EM_SETSEL, caret, caret);
    }
    if (refused && !e.why.empty()) {
        EDITBALLOONTIP tip{};
        tip.cbStruct = sizeof tip;
        tip.pszTitle = L"";
        tip.pszText = e.why.c_str();
        tip.ttiIcon = TTI_INFO;
        SendMessageW(e.hwnd, EM_SHOWBALLOONTIP, 0, reinterpret_cast<LPARAM>(&tip));
    }
    if (text == e.last) return;
    e.last = text;
    const std::wstring engineText = e.kind == Kind::Memo ? toEngineLines(text) : text;
    e.echoes.push_back(engineText);
    // Keep the queue bounded: an engine that never echoes must not grow it forever.
    while (e.echoes.size() > 64) e.echoes.pop_front();
    const std::string n = e.name, t = narrow(engineText);
    post([n, t](EngineCommands& f) { f.EditChange(n, t); });
}

bool MainWindow::handleChild(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
    switch (msg) {
    case WM_COMMAND: {
        Entry* e = entryOf(reinterpret_cast<HWND>(lp));
        if (!e || e->name.empty()) return false;
        const UINT code = HIWORD(wp);
        const std::string n = e->name;
        result = 0;
        if (e->kind == Kind::Image && code == BN_CLICKED) {
            post([n](EngineCommands& f) { f.Click(n); });
        } else if (e->kind == Kind::CheckBox && code == BN_CLICKED) {
            // BN_CLICKED comes only from the user (a click, Space, BM_CLICK); the engine's
            // own ticks (BM_SETCHECK) stay quiet, so they are never sent back as clicks.
            const bool checked = SendMessageW(e->hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED;
            post([n, checked](EngineCommands& f) { f.CheckBoxClick(n, checked); });
        } else if ((e->kind == Kind::Edit || e->kind == Kind::Memo) && code == EN_CHANGE) {
            onEditChanged(*e);
        } else if (e->kind == Kind::Combo && code == CBN_SELCHANGE && !applying_) {
            // Only the user's choice sends CBN_SELCHANGE; the engine's CB_SETCURSEL does not.
            const LRESULT index = SendMessageW(e->hwnd, CB_GETCURSEL, 0, 0);
            const LRESULT len = SendMessageW(e->hwnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
            if (index == CB_ERR || len == CB_ERR) return true;
            std::wstring item(static_cast<std::size_t>(len) + 1, L'\0');
            SendMessageW(e->hwnd, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(item.data()));
            item.resize(static_cast<std::size_t>(len));
            const std::string t = narrow(item);
            post([n, t](EngineCommands& f) { f.EditChange(n, t); });
        } else if (e->kind == Kind::Label && code == STN_CLICKED) {
            post([n](EngineCommands& f) { f.Click(n); });
        }
        return true;
    }
    case WM_NOTIFY: {
        const auto* h = reinterpret_cast<const NMHDR*>(lp);
        Entry* e = entryOf(h->hwndFrom);
        if (!e) return false;
        result = 0;
        if (e->kind == Kind::StatusBar && h->code == static_cast<UINT>(NM_DBLCLK)) {
            post([](EngineCommands& f) { f.DoubleClick(names::StatusBar1); });
            return true;
        }
        if (e->kind == Kind::Grid && h->code == static_cast<UINT>(LVN_ITEMCHANGED) && !applying_) {
            const auto* v = reinterpret_cast<const NMLISTVIEW*>(lp);
            if ((v->uChanged & LVIF_STATE) && (v->uNewState & LVIS_SELECTED) && !(v->uOldState & LVIS_SELECTED) &&
                v->iItem >= 0) {
                const std::string n = e->name;
                const int row = v->iItem;
                post([n, row](EngineCommands& f) { f.SelectCell(n, row); });
            }
            return true;
        }
        return false;
    }
    case WM_DRAWITEM: {
        const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
        Entry* e = entryOf(d->hwndItem);
        if (!e) return false;
        if (e->kind == Kind::Image) drawImage(*e, *d);
        else if (e->kind == Kind::Label) drawLabel(*e, *d);
        else return false;
        result = TRUE;
        return true;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        HWND ctl = reinterpret_cast<HWND>(lp);
        Entry* e = entryOf(ctl);
        if (!e || e->kind == Kind::Edit) return false;
        const COLORREF back = backOf(ctl);
        COLORREF ink = e->ink;
        namedColour(e->color, ink);
        HDC dc = reinterpret_cast<HDC>(wp);
        SetTextColor(dc, ink);
        SetBkColor(dc, back);
        result = reinterpret_cast<LRESULT>(brush(back));
        return true;
    }
    default:
        return false;
    }
}

}  // namespace raid::win
