#include "gui-win32/pages/PageBuilder.h"

#include <commctrl.h>

#include "app/ControlNames.h"
#include "gui-win32/ControlIds.h"
#include "gui-win32/Text.h"

namespace raid::win {

using Kind = MainWindow::Kind;
using Entry = MainWindow::Entry;

Entry& PageBuilder::make(HWND parent, const std::string& name, Kind kind, const RECT& r, const wchar_t* cls,
                         const std::wstring& text, DWORD style, DWORD exStyle) {
    auto e = std::make_unique<Entry>();
    e->name = name;
    e->kind = kind;
    e->design = r;
    const int id = name.empty() ? 0 : controlId(name);
    // Placed by the window's layout, at its scale, once everything is made.
    e->hwnd = CreateWindowExW(exStyle, cls, text.c_str(), WS_CHILD | WS_CLIPSIBLINGS | style, 0, 0, 0, 0, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    return w_.add(std::move(e));
}

HWND PageBuilder::container(HWND parent, const std::string& name, const RECT& r, COLORREF back, bool framed) {
    // Tab and the arrow keys walk into the controls a container holds.
    Entry& e = make(parent, name, Kind::Container, r, kContainerClass, L"", WS_VISIBLE | WS_CLIPCHILDREN,
                    WS_EX_CONTROLPARENT);
    e.back = back;
    e.framed = framed;
    return e.hwnd;
}

HWND PageBuilder::clickPanel(HWND parent, const std::string& name, const RECT& r, COLORREF back) {
    Entry& e = make(parent, name, Kind::Container, r, kContainerClass, L"", WS_VISIBLE | WS_CLIPCHILDREN | WS_TABSTOP);
    e.back = back;
    e.framed = true;
    return e.hwnd;
}

HWND PageBuilder::book(HWND parent, const std::string& name, const RECT& r, int pages) {
    Entry& e = make(parent, name, Kind::Book, r, kContainerClass, L"", WS_VISIBLE | WS_CLIPCHILDREN,
                    WS_EX_CONTROLPARENT);
    HWND hwnd = e.hwnd;
    std::vector<HWND> made;
    for (int i = 0; i < pages; ++i) {
        HWND page = container(hwnd, {}, box(0, 0, r.right - r.left, r.bottom - r.top));
        if (i > 0) ShowWindow(page, SW_HIDE);
        made.push_back(page);
    }
    w_.entryOf(hwnd)->pages = made;
    return hwnd;
}

std::vector<HWND> PageBuilder::pages(HWND book) const { return w_.entryOf(book)->pages; }

void PageBuilder::rule(HWND container, const RECT& r) { w_.entryOf(container)->rules.push_back(r); }

HWND PageBuilder::label(HWND parent, const std::string& name, const RECT& r, UINT format, int px, bool bold,
                        COLORREF ink, const std::wstring& text) {
    // Drawn by the window: the text is shrunk until it fits its box, and an engine text
    // is shown as it is (no "&" prefixes). A click on it reaches the engine.
    Entry& e = make(parent, name, Kind::Label, r, L"STATIC", text, WS_VISIBLE | SS_OWNERDRAW | SS_NOPREFIX | SS_NOTIFY);
    e.format = format | DT_NOPREFIX;
    e.fontPx = px;
    e.bold = bold;
    e.ink = ink;
    return e.hwnd;
}

HWND PageBuilder::caption(HWND parent, const std::wstring& text, const RECT& r, int px, bool bold, UINT format) {
    DWORD style = WS_VISIBLE | SS_NOPREFIX;
    if (format & DT_CENTER) style |= SS_CENTER;
    else if (format & DT_RIGHT) style |= SS_RIGHT;
    // One line centred on the box's height; a caption that wraps starts at its top.
    if (format & DT_SINGLELINE) style |= SS_CENTERIMAGE;
    Entry& e = make(parent, {}, Kind::Caption, r, L"STATIC", text, style);
    e.fontPx = px;
    e.bold = bold;
    e.ink = bold ? kInk : kMuted;
    e.format = format;
    return e.hwnd;
}

HWND PageBuilder::checkBox(HWND parent, const std::string& name, const RECT& r) {
    return make(parent, name, Kind::CheckBox, r, L"BUTTON", widen(names::caption(name)),
                WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX)
        .hwnd;
}

HWND PageBuilder::edit(HWND parent, const std::string& name, const RECT& r, std::size_t limit, const std::wstring& why,
                       bool refuse, DWORD style) {
    Entry& e = make(parent, name, Kind::Edit, r, L"EDIT", L"", WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL | style,
                    WS_EX_CLIENTEDGE);
    e.byteLimit = limit;
    e.refuse = refuse;
    if (limit) e.why = why + L" takes at most " + std::to_wstring(limit) + L" bytes (UTF-8)";
    return e.hwnd;
}

HWND PageBuilder::memo(HWND parent, const std::string& name, const RECT& r) {
    Entry& e = make(parent, name, Kind::Memo, r, L"EDIT", L"",
                    WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN,
                    WS_EX_CLIENTEDGE);
    // The edit's own default stops at 30 000 characters, short of what a mail's
    // contents may hold.
    SendMessageW(e.hwnd, EM_SETLIMITTEXT, 64 * 1024, 0);
    return e.hwnd;
}

HWND PageBuilder::comboBox(HWND parent, const std::string& name, const RECT& r,
                           const std::vector<std::wstring>& items) {
    Entry& e = make(parent, name, Kind::Combo, r, L"COMBOBOX", L"", WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST);
    for (const std::wstring& item : items) SendMessageW(e.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    SendMessageW(e.hwnd, CB_SETCURSEL, 0, 0);
    return e.hwnd;
}

HWND PageBuilder::grid(HWND parent, const std::string& name, const RECT& r) {
    Entry& e = make(parent, name, Kind::Grid, r, WC_LISTVIEWW, L"",
                    WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_NOCOLUMNHEADER | LVS_SHOWSELALWAYS,
                    WS_EX_CLIENTEDGE);
    SendMessageW(e.hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    LVCOLUMNW col{};
    col.mask = LVCF_WIDTH;
    col.cx = r.right - r.left;
    SendMessageW(e.hwnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&col));
    return e.hwnd;
}

HWND PageBuilder::progress(HWND parent, const std::string& name, const RECT& r) {
    Entry& e = make(parent, name, Kind::Progress, r, PROGRESS_CLASSW, L"", WS_VISIBLE);
    SendMessageW(e.hwnd, PBM_SETRANGE32, 0, 100);
    return e.hwnd;
}

HWND PageBuilder::bays(HWND parent, const std::string& name, const RECT& r) {
    return make(parent, name, Kind::Bays, r, kBaysClass, L"", WS_VISIBLE).hwnd;
}

HWND PageBuilder::image(HWND parent, const std::string& name, const RECT& r, MainWindow::ImageKind kind,
                        const std::wstring& caption) {
    // The caption is the button's text too, for screen readers and automation.
    Entry& e = make(parent, name, Kind::Image, r, L"BUTTON", caption, WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW);
    e.image = kind;
    e.caption = caption;
    return e.hwnd;
}

HWND PageBuilder::navImage(HWND parent, const std::string& name, const RECT& r, const std::wstring& caption,
                           NavGlyph glyph, bool highlighted) {
    HWND h = image(parent, name, r, MainWindow::ImageKind::Nav, caption);
    Entry& e = entry(h);
    e.glyph = glyph;
    e.highlightedAtStart = highlighted;
    e.enginePlaced = true;
    return h;
}

HWND PageBuilder::tabImage(HWND parent, const std::string& name, const RECT& r, const std::wstring& caption,
                           bool selected) {
    HWND h = image(parent, name, r, MainWindow::ImageKind::Tab, caption);
    entry(h).highlightedAtStart = selected;
    return h;
}

HWND PageBuilder::pushImage(HWND parent, const std::string& name, const RECT& r, const std::wstring& caption,
                            bool primary) {
    HWND h = image(parent, name, r, MainWindow::ImageKind::Push, caption);
    entry(h).primary = primary;
    return h;
}

HWND PageBuilder::signImage(HWND parent, const std::string& name, const RECT& r, bool plus) {
    HWND h = image(parent, name, r, MainWindow::ImageKind::Sign, plus ? L"+" : L"-");
    entry(h).primary = plus;
    return h;
}

void PageBuilder::deviceTabs(HWND page, const std::array<const char*, 2>& tabs) {
    const int x[2] = {10, 108};
    for (int i = 0; i < 2; ++i) {
        HWND h = tabImage(page, tabs[static_cast<std::size_t>(i)], box(x[i], 8, 96, 28),
                          L"Device" + std::to_wstring(i + 1), i == 0);
        ShowWindow(h, SW_HIDE);
    }
}

}  // namespace raid::win
