#include "gui-win32/MainWindow.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cwctype>

#include <commctrl.h>
#include <objbase.h>

#include "app/ControlNames.h"
#include "gui-win32/Accessible.h"
#include "gui-win32/ControlIds.h"
#include "gui-win32/Text.h"
#include "gui-win32/WindowBasics.h"
#include "gui-win32/WindowParts.h"
#include "gui-win32/pages/PageBuilder.h"

namespace raid::win {

using namespace detail;

namespace {

constexpr DWORD kFormStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kFormExStyle = WS_EX_CONTROLPARENT;
// Where the navigation slots are, top to bottom.
constexpr int kNavX = 16;
constexpr int kNavSlotY[5] = {112, 168, 224, 280, 336};
constexpr int kStatusBarHeight = 19;
constexpr int kPanelWidths[4] = {120, 80, 80, 100};  // the last panel takes the rest
const char kPanelPrefix[] = "StatusBar1.Panel";

void registerClasses() {
    static const bool done = [] {
        HINSTANCE inst = GetModuleHandleW(nullptr);
        INITCOMMONCONTROLSEX icc{sizeof icc, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_LISTVIEW_CLASSES |
                                                 ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
        InitCommonControlsEx(&icc);
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.hInstance = inst;
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.lpfnWndProc = MainWindow::formProc;
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        // The program's icon resource "Z1" (the .exe carries it); a program built without
        // it (a test) draws the same picture.
        const auto iconOf = [inst](int size) {
            auto* icon = static_cast<HICON>(LoadImageW(inst, L"Z1", IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
            return icon ? icon : Artwork::icon(size);
        };
        wc.hIcon = iconOf(GetSystemMetrics(SM_CXICON));
        wc.hIconSm = iconOf(GetSystemMetrics(SM_CXSMICON));
        wc.lpszClassName = kFormClass;
        RegisterClassExW(&wc);
        wc.hIcon = wc.hIconSm = nullptr;
        wc.hbrBackground = nullptr;
        wc.lpfnWndProc = MainWindow::containerProc;
        wc.lpszClassName = kContainerClass;
        RegisterClassExW(&wc);
        wc.lpfnWndProc = MainWindow::baysProc;
        wc.lpszClassName = kBaysClass;
        RegisterClassExW(&wc);
        return true;
    }();
    (void)done;
}

}  // namespace

MainWindow::MainWindow(ActionPoster post, double scale) : post_(std::move(post)) {
    // What the controls tell screen readers is handed over through COM: the window's
    // thread is a single-threaded apartment (unless its caller made it something else).
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    com_ = com == S_OK || com == S_FALSE;
    Artwork::startup();
    registerClasses();
    hwnd_ = CreateWindowExW(kFormExStyle, kFormClass, L"", kFormStyle, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr,
                            nullptr, GetModuleHandleW(nullptr), this);
    scale_ = scale > 0 ? scale : windowDpi(hwnd_) / 96.0;
    auto form = std::make_unique<Entry>();
    form->name = names::TForm1;
    form->hwnd = hwnd_;
    form->kind = Kind::Container;
    add(std::move(form));

    PageBuilder b(*this);
    // Made in the order Tab walks them: the navigation, the device check boxes, then
    // the page shown. Until the engine has laid them out, the images stand where its
    // layout will put them (page 1 has no slot), so the first frame already looks right.
    struct Nav {
        const char* name;
        const wchar_t* caption;
        NavGlyph glyph;
    };
    const Nav navs[5] = {{names::Image_Sts, L"Status", NavGlyph::Status},
                         {names::Image_Page1, L"Tools", NavGlyph::Tools},
                         {names::Image_FWUpg, L"Upgrade", NavGlyph::Upgrade},
                         {names::Image_Email, L"E-mail", NavGlyph::Email},
                         {names::Image_About, L"About", NavGlyph::About}};
    int slot = 0;
    for (int p = 0; p < 5; ++p) {
        const int y = kNavSlotY[p == 1 ? 1 : slot];
        HWND img = b.navImage(hwnd_, navs[p].name, box(kNavX, y, Artwork::kNavSize.cx, Artwork::kNavSize.cy),
                              navs[p].caption, navs[p].glyph, p == 0);
        EnableWindow(img, FALSE);
        if (p == 1)
            ShowWindow(img, SW_HIDE);
        else
            ++slot;
    }
    // Device check boxes sit above the navigation: they choose what both the Status
    // and the Upgrade page show.
    ShowWindow(b.checkBox(hwnd_, names::CheckBox1, box(22, 78, 80, 22)), SW_HIDE);
    ShowWindow(b.checkBox(hwnd_, names::CheckBox3, box(106, 78, 80, 22)), SW_HIDE);

    HWND book = b.book(hwnd_, names::Notebook1, box(216, 74, 385, 321), 5);
    const std::vector<HWND> pages = b.pages(book);
    buildStatusPage(b, pages[0]);
    buildUpgradePage(b, pages[2]);
    buildEmailPage(b, pages[3]);
    buildAboutPage(b, pages[4]);

    // The start-up message ("Drive detecting", "No Drive found! ") is the one thing to
    // read while there is no enclosure: in the middle of the page card, above the pages.
    HWND startUp = b.label(hwnd_, names::StaticText1, box(216, 214, 385, 30), DT_CENTER | DT_VCENTER | DT_SINGLELINE,
                           17, true);
    SetWindowPos(startUp, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    // It stands over the Status page's picture: only its text hides what is beneath.
    entryOf(startUp)->shaped = true;
    for (const char* name : {names::Memo1, names::Memo2, names::Memo7})
        ShowWindow(b.memo(hwnd_, name, box(0, 0, 10, 10)), SW_HIDE);
    buildStatusBar();

    tips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0,
                            0, hwnd_, nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, 480);
    for (auto& e : entries_)
        if (e->hwnd != hwnd_) makeAccessible(e->hwnd);
    layout();
}

MainWindow::~MainWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
    for (auto& [colour, b] : brushes_) DeleteObject(b);
    if (com_) CoUninitialize();
}

MainWindow::Entry& MainWindow::add(std::unique_ptr<Entry> e) {
    Entry& ref = *e;
    if (!ref.name.empty()) byName_[ref.name] = &ref;
    if (ref.hwnd) byHwnd_[ref.hwnd] = &ref;
    entries_.push_back(std::move(e));
    return ref;
}

MainWindow::Entry* MainWindow::entryOf(HWND hwnd) const {
    auto it = byHwnd_.find(hwnd);
    return it == byHwnd_.end() ? nullptr : it->second;
}

const MainWindow::Entry* MainWindow::entry(const std::string& name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

HWND MainWindow::control(const std::string& name) const {
    auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second->hwnd;
}

void MainWindow::post(EngineAction action) {
    if (post_) post_(std::move(action));
}

HBRUSH MainWindow::brush(COLORREF c) {
    auto it = brushes_.find(c);
    if (it != brushes_.end()) return it->second;
    return brushes_[c] = CreateSolidBrush(c);
}

COLORREF MainWindow::backOf(HWND control) const {
    if (const Entry* e = entryOf(control); e && e->behind != CLR_INVALID) return e->behind;
    const Entry* parent = entryOf(GetParent(control));
    return parent ? parent->back : kWhite;
}

void MainWindow::sampleBackground() {
    // A control on the form stands on the drawn background (the navigation column is
    // tinted): it fills its own box in the colour the background has there.
    RECT client;
    GetClientRect(hwnd_, &client);
    HDC screen = GetDC(hwnd_);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, std::max(client.right, 1L), std::max(client.bottom, 1L));
    HGDIOBJ old = SelectObject(mem, bmp);
    fill(mem, client, kWhite);
    Artwork::background(mem, client, scale_, oem_);
    for (auto& e : entries_) {
        if (!e->hwnd || e->hwnd == hwnd_ || GetParent(e->hwnd) != hwnd_ || e->kind == Kind::StatusBar) continue;
        const int x = static_cast<int>(std::lround(e->design.left * scale_)) + 1;
        const int y = static_cast<int>(std::lround(e->design.top * scale_)) + 1;
        e->behind = GetPixel(mem, x, y);
    }
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(hwnd_, screen);
}

void MainWindow::buildStatusBar() {
    auto e = std::make_unique<Entry>();
    e->name = names::StatusBar1;
    e->kind = Kind::StatusBar;
    e->design = box(0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);
    e->fontPx = 11;
    e->hwnd = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_BOTTOM, 0, 0, 0, 0, hwnd_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(names::StatusBar1))),
                              GetModuleHandleW(nullptr), nullptr);
    statusBar_ = e->hwnd;
    add(std::move(e));
}

void MainWindow::layoutStatusBar() {
    SendMessageW(statusBar_, WM_SETFONT, reinterpret_cast<WPARAM>(Artwork::font(11, false, scale_)), FALSE);
    SendMessageW(statusBar_, SB_SETMINHEIGHT, static_cast<WPARAM>(std::lround(kStatusBarHeight * scale_)), 0);
    SendMessageW(statusBar_, WM_SIZE, 0, 0);
    int edges[5];
    int x = 0;
    for (int i = 0; i < 4; ++i) {
        x += kPanelWidths[i];
        edges[i] = static_cast<int>(std::lround(x * scale_));
    }
    edges[4] = -1;
    SendMessageW(statusBar_, SB_SETPARTS, 5, reinterpret_cast<LPARAM>(edges));
}

void MainWindow::place(Entry& e) {
    if (!e.hwnd || e.hwnd == hwnd_ || e.kind == Kind::StatusBar) return;
    // Both edges are scaled, so controls that touch at 96 DPI still touch, never overlap.
    const auto at = [this](LONG v) { return static_cast<int>(std::lround(v * scale_)); };
    const int x = at(e.design.left), y = at(e.design.top);
    const int w = at(e.design.right) - x, h = at(e.design.bottom) - y;
    if (e.kind == Kind::Combo) {
        // The closed box is the design height; the list drops below it.
        SendMessageW(e.hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), std::max(h - 6, 1));
        SendMessageW(e.hwnd, CB_SETITEMHEIGHT, 0, std::max(h - 8, 1));
        MoveWindow(e.hwnd, x, y, w, h + at(120), TRUE);
        return;
    }
    MoveWindow(e.hwnd, x, y, w, h, TRUE);
    if (e.kind == Kind::Grid) {
        RECT client;
        GetClientRect(e.hwnd, &client);
        SendMessageW(e.hwnd, LVM_SETCOLUMNWIDTH, 0, client.right - client.left);
    }
}

void MainWindow::layout() {
    // The client area is exactly the design size at this scale.
    RECT r{0, 0, static_cast<LONG>(std::lround(kClientWidth * scale_)),
           static_cast<LONG>(std::lround(kClientHeight * scale_))};
    AdjustWindowRectEx(&r, kFormStyle, FALSE, kFormExStyle);
    SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (auto& e : entries_) {
        switch (e->kind) {
        case Kind::Caption:
        case Kind::CheckBox:
        case Kind::Edit:
        case Kind::Memo:
        case Kind::Combo:
        case Kind::Grid:
            SendMessageW(e->hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(Artwork::font(e->fontPx, e->bold, scale_)),
                         FALSE);
            break;
        default:
            break;
        }
        place(*e);
        if (e->kind == Kind::Label) fitLabel(*e);
    }
    layoutStatusBar();
    sampleBackground();
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void MainWindow::setScale(double scale) {
    if (!(scale > 0.25 && scale < 8)) return;
    scale_ = scale;
    layout();
}

void MainWindow::show() {
    RECT wr;
    GetWindowRect(hwnd_, &wr);
    MONITORINFO mi{};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &mi);
    const RECT& work = mi.rcWork;
    const int w = wr.right - wr.left, h = wr.bottom - wr.top;
    const int x = work.left + std::max(0L, (work.right - work.left - w) / 2);
    const int y = work.top + std::max(0L, (work.bottom - work.top - h) / 2);
    SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(hwnd_, SW_SHOW);
    UpdateWindow(hwnd_);
    if (HWND first = GetNextDlgTabItem(hwnd_, nullptr, FALSE)) SetFocus(first);
}

void MainWindow::setHintHidePause(int ms) {
    // The tool tip counts in a 16-bit field; a pause past it stays as long as it can.
    SendMessageW(tips_, TTM_SETDELAYTIME, TTDT_AUTOPOP, ms < 0 ? -1 : std::min(ms, SHRT_MAX));
}

void MainWindow::fitLabel(Entry& e) {
    RECT client;
    GetClientRect(e.hwnd, &client);
    const std::wstring text = shownText(windowText(e.hwnd), e.format);
    HDC dc = GetDC(e.hwnd);
    HFONT chosen = Artwork::font(e.fontPx, e.bold, scale_);
    // The largest size up to the design size at which the whole text fits its box.
    for (int px = e.fontPx; px >= e.fontPx - kMostShrinkPx && !text.empty(); --px) {
        HFONT f = Artwork::font(px, e.bold, scale_);
        HGDIOBJ old = SelectObject(dc, f);
        RECT m{0, 0, client.right, 0};
        DrawTextW(dc, text.c_str(), -1, &m, (e.format & ~static_cast<UINT>(DT_VCENTER | DT_BOTTOM)) | DT_CALCRECT);
        SelectObject(dc, old);
        chosen = f;
        if (m.right <= client.right && m.bottom <= client.bottom) break;
    }
    if (e.shaped) {
        HGDIOBJ old = SelectObject(dc, chosen);
        RECT m{0, 0, client.right, 0};
        DrawTextW(dc, text.c_str(), -1, &m, (e.format & ~static_cast<UINT>(DT_VCENTER | DT_BOTTOM)) | DT_CALCRECT);
        SelectObject(dc, old);
        const LONG pad = text.empty() ? 0 : static_cast<LONG>(std::lround(6 * scale_));
        const LONG width = std::min(client.right, m.right + 2 * pad);
        const LONG x = (client.right - width) / 2;
        SetWindowRgn(e.hwnd, CreateRectRgn(x, 0, x + width, client.bottom), TRUE);
    }
    ReleaseDC(e.hwnd, dc);
    e.fitted = chosen;
    SendMessageW(e.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(chosen), FALSE);
    InvalidateRect(e.hwnd, nullptr, TRUE);
}

// ---- engine changes -------------------------------------------------------------

void MainWindow::applyChange(const ControlChange& change) {
    const ControlState& s = change.state;
    const bool all = change.prop == Prop::All;
    if (change.control.rfind(kPanelPrefix, 0) == 0) {
        const std::string index = change.control.substr(sizeof kPanelPrefix - 1);
        if ((all || change.prop == Prop::Text) && index.size() == 1 && index[0] >= '0' && index[0] <= '4') {
            const std::wstring t = widen(s.text);
            SendMessageW(statusBar_, SB_SETTEXTW, static_cast<WPARAM>(index[0] - '0'), reinterpret_cast<LPARAM>(t.c_str()));
        }
        return;
    }
    if (change.control == names::Image_Background) {
        // Which background the form shows; drawn again only when that changes.
        if ((all || change.prop == Prop::Text) && oem_ != (s.text == names::Image_Background_OEM)) {
            oem_ = !oem_;
            sampleBackground();
            RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
        }
        return;
    }
    auto it = byName_.find(change.control);
    if (it == byName_.end()) return;
    Entry& e = *it->second;
    applying_ = true;
    if (e.hwnd == hwnd_) {
        if (all || change.prop == Prop::Text) SetWindowTextW(hwnd_, widen(s.text).c_str());
        applying_ = false;
        return;
    }
    if (all || change.prop == Prop::Text) applyText(e, s.text);
    if (all || change.prop == Prop::Visible) {
        ShowWindow(e.hwnd, s.visible ? SW_SHOWNA : SW_HIDE);
        if (e.follower) ShowWindow(e.follower, s.visible ? SW_SHOWNA : SW_HIDE);
    }
    if (all || change.prop == Prop::Enabled) EnableWindow(e.hwnd, s.enabled ? TRUE : FALSE);
    if ((all || change.prop == Prop::Checked) && e.kind == Kind::CheckBox)
        SendMessageW(e.hwnd, BM_SETCHECK, s.checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if ((all || change.prop == Prop::Color) && e.color != s.color) {
        e.color = s.color;
        InvalidateRect(e.hwnd, nullptr, TRUE);
    }
    if (all || change.prop == Prop::Hint) applyHint(e, s.hint);
    // The engine says which navigation slot a page image takes; where a slot is on
    // the screen is this window's business.
    if ((all || change.prop == Prop::Slot) && e.enginePlaced && s.slot >= 0 && s.slot < 5) {
        const LONG w = e.design.right - e.design.left, h = e.design.bottom - e.design.top;
        e.design = box(kNavX, kNavSlotY[s.slot], w, h);
        place(e);
    }
    applyView(e, s, change.prop);
    applying_ = false;
}

void MainWindow::setText(Entry& e, const std::wstring& text) {
    const bool was = applying_;
    applying_ = true;
    SetWindowTextW(e.hwnd, text.c_str());
    applying_ = was;
}

void MainWindow::applyText(Entry& e, const std::string& text) {
    const std::wstring t = widen(text);
    switch (e.kind) {
    case Kind::Image:
        // Which picture the image shows: its `_Yellow` or `_White` source, or its own.
        if (e.picture != text) {
            const bool was = e.highlighted();
            e.picture = text;
            InvalidateRect(e.hwnd, nullptr, FALSE);
            if (was != e.highlighted()) announceSelection(e.hwnd);
        }
        break;
    case Kind::Edit:
    case Kind::Memo: {
        if (isEcho(e, t)) return;
        const std::wstring shown = e.kind == Kind::Memo ? toWindowsLines(t) : t;
        if (windowText(e.hwnd) != shown) setText(e, shown);
        e.last = shown;
        break;
    }
    case Kind::Combo: {
        const LRESULT index = SendMessageW(e.hwnd, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                           reinterpret_cast<LPARAM>(t.c_str()));
        if (index != CB_ERR) SendMessageW(e.hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
        break;
    }
    case Kind::Label:
        if (windowText(e.hwnd) != t) {
            setText(e, t);
            fitLabel(e);
        }
        break;
    case Kind::Caption:
    case Kind::CheckBox:
        if (windowText(e.hwnd) != t) setText(e, t);
        break;
    default:
        break;
    }
}

void MainWindow::applyView(Entry& e, const ControlState& s, Prop prop) {
    const bool all = prop == Prop::All;
    if (e.kind == Kind::Bays && (all || prop == Prop::Bays)) {
        // Redrawn only when the picture changes: a poll every 4 s mostly repeats it.
        if (!(e.bays == s.bays)) {
            const BaysView before = e.bays;
            e.bays = s.bays;
            InvalidateRect(e.hwnd, nullptr, FALSE);
            announceBays(e.hwnd, before, e.bays);
        }
    } else if (e.kind == Kind::Book && (all || prop == Prop::Page)) {
        // No such page (or none chosen yet): the page stays.
        if (s.page.index >= 0 && static_cast<std::size_t>(s.page.index) < e.pages.size()) {
            HWND shown = e.pages[static_cast<std::size_t>(s.page.index)];
            ShowWindow(shown, SW_SHOWNA);
            for (HWND p : e.pages)
                if (p != shown) ShowWindow(p, SW_HIDE);
        }
    } else if (e.kind == Kind::Grid && (all || prop == Prop::Rows)) {
        if (e.rows == s.rows) return;
        e.rows = s.rows;
        const LRESULT selected = SendMessageW(e.hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED);
        SendMessageW(e.hwnd, LVM_DELETEALLITEMS, 0, 0);
        for (std::size_t i = 0; i < s.rows.size(); ++i) {
            std::wstring t = widen(s.rows[i]);
            LVITEMW item{};
            item.mask = LVIF_TEXT;
            item.iItem = static_cast<int>(i);
            item.pszText = t.data();
            SendMessageW(e.hwnd, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        }
        // The chosen row stays chosen, as a grid's cell does when its text changes.
        if (selected >= 0 && static_cast<std::size_t>(selected) < s.rows.size()) {
            LVITEMW state{};
            state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
            SendMessageW(e.hwnd, LVM_SETITEMSTATE, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(&state));
        }
    } else if (e.kind == Kind::Progress && (all || prop == Prop::Progress)) {
        // The bar counts in int: a bar past that range is drawn to scale.
        std::uint64_t value = std::min(s.progress.value, s.progress.maximum), maximum = s.progress.maximum;
        while (maximum > static_cast<std::uint64_t>(INT_MAX)) {
            maximum >>= 1;
            value >>= 1;
        }
        // Nothing to count (an update of no sub-code): an empty bar, not the last
        // upgrade's picture.
        const int top = maximum == 0 ? 1 : static_cast<int>(maximum);
        SendMessageW(e.hwnd, PBM_SETRANGE32, 0, top);
        SendMessageW(e.hwnd, PBM_SETPOS, maximum == 0 ? 0 : static_cast<WPARAM>(value), 0);
    }
}

void MainWindow::applyHint(Entry& e, const std::string& hint) {
    std::wstring text = widen(hint);
    TOOLINFOW ti{};
    ti.cbSize = TTTOOLINFOW_V2_SIZE;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = GetParent(e.hwnd);
    ti.uId = reinterpret_cast<UINT_PTR>(e.hwnd);
    ti.lpszText = text.data();
    if (text.empty()) {
        if (e.tip) SendMessageW(tips_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
        e.tip = false;
    } else if (!e.tip) {
        e.tip = SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)) != FALSE;
    } else {
        SendMessageW(tips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
    }
}

// ---- window procedures -------------------------------------------------------------

LRESULT MainWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
    LRESULT result = 0;
    if (handleChild(msg, wp, lp, result)) return result;
    switch (msg) {
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd_, &ps);
        RECT client;
        GetClientRect(hwnd_, &client);
        buffered(dc, client, [&](HDC mem) {
            fill(mem, client, kWhite);
            Artwork::background(mem, client, scale_, oem_);
        });
        EndPaint(hwnd_, &ps);
        return 0;
    }
    case WM_ACTIVATE:
        // The control that had the focus gets it back when the window is active again
        // (the event log or the chart closed, another program left): a keyboard user
        // goes on where they were instead of at the first control.
        if (LOWORD(wp) == WA_INACTIVE) {
            HWND had = GetFocus();
            lastFocus_ = had && IsChild(hwnd_, had) ? had : nullptr;
        } else if (lastFocus_ && IsChild(hwnd_, lastFocus_) && IsWindowVisible(lastFocus_) &&
                   IsWindowEnabled(lastFocus_)) {
            SetFocus(lastFocus_);
            return 0;
        }
        return DefWindowProcW(hwnd_, msg, wp, lp);
    case WM_CLOSE:
        // The engine decides: it refuses while the firmware is written, and asks for
        // the end (onQuit) when the program is to end.
        post([](EngineCommands& f) { f.CloseRequest(); });
        return 0;
    case WM_QUERYENDSESSION:
        return onQueryEndSession ? (onQueryEndSession() ? TRUE : FALSE) : TRUE;
    case 0x02E0: {  // WM_DPICHANGED: the window moved to a monitor of another DPI
        const auto* suggested = reinterpret_cast<const RECT*>(lp);
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        setScale(HIWORD(wp) / 96.0);
        return 0;
    }
    default:
        return DefWindowProcW(hwnd_, msg, wp, lp);
    }
}

LRESULT MainWindow::formProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* created = reinterpret_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
        if (created) created->hwnd_ = hwnd;
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self || !self->hwnd_) return DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    return self->handle(msg, wp, lp);
}

}  // namespace raid::win
