#include "gui-win32/LogWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "app/ControlNames.h"
#include "gui-win32/ControlIds.h"
#include "gui-win32/Dialogs.h"
#include "gui-win32/Text.h"
#include "gui-win32/UiThread.h"
#include "gui-win32/WindowBasics.h"

namespace raid::win {

// What the engine's answers hold on to: cleared when the window object goes, so an
// answer arriving later finds nothing to touch. Window's thread only.
struct LogWindow::Life {
    LogWindow* self = nullptr;
};

namespace {

constexpr wchar_t kClassName[] = L"TForm5";
constexpr UINT_PTR kPollTimer = 1;
constexpr UINT_PTR kAppendTimer = 2;
// Characters put into the text per append step: small enough that one step is a short
// moment even for the edit control of Wine, large enough that a 16 MiB file is in
// within seconds.
constexpr std::size_t kChunkChars = 64 * 1024;
// Design sizes at 96 DPI.
constexpr int kWidth = 600, kHeight = 420, kMinWidth = 320, kMinHeight = 200;
constexpr int kMargin = 8, kButtonWidth = 120, kButtonHeight = 28;
constexpr COLORREF kPausedText = RGB(0x80, 0x80, 0x80);

// The file's name without its folder, for either separator.
std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A line as the text shows it: a NUL would end the text handed to the control there.
std::wstring shownLine(const std::string& line) {
    std::wstring w = widen(line);
    std::replace(w.begin(), w.end(), L'\0', L'\xFFFD');
    return w;
}

}  // namespace

LogWindow::LogWindow(HWND owner, ActionPoster post, WinDialogs& dialogs, UiThread& ui)
    : owner_(owner), post_(std::move(post)), dialogs_(dialogs), ui_(ui), life_(std::make_shared<Life>()) {
    life_->self = this;
    create();
}

LogWindow::~LogWindow() {
    life_->self = nullptr;
    destroying_ = true;
    if (hwnd_) {
        if (disabledOwner_ && owner_) EnableWindow(owner_, TRUE);
        disabledOwner_ = false;
        DestroyWindow(hwnd_);
    }
    if (mono_) DeleteObject(mono_);
    if (font_) DeleteObject(font_);
}

void LogWindow::create() {
    registerPlainClass(kClassName);
    const double scale = windowDpi(owner_) / 96.0;
    const int w = px(kWidth, scale), h = px(kHeight, scale);
    // Centred on the owner, as a modal window is.
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT;
    RECT o{};
    if (owner_ && GetWindowRect(owner_, &o)) {
        x = o.left + ((o.right - o.left) - w) / 2;
        y = o.top + ((o.bottom - o.top) - h) / 2;
    }
    hwnd_ = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, kClassName, L"Event Log",
                            WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN, x, y, w, h,
                            owner_, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!hwnd_) return;
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LogWindow::proc));

    const HINSTANCE inst = GetModuleHandleW(nullptr);
    const auto child = [&](const wchar_t* cls, const wchar_t* caption, DWORD style, DWORD exStyle, const char* name) {
        HWND c = CreateWindowExW(exStyle, cls, caption, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, 0, 0, 0, 0, hwnd_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(name))), inst, nullptr);
        SetWindowSubclass(c, &LogWindow::keys, 0, reinterpret_cast<DWORD_PTR>(this));
        return c;
    };
    // No wrap: a log line is one line on screen, however long.
    text_ = child(L"EDIT", L"", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL,
                  WS_EX_CLIENTEDGE, names::LogText);
    // The day log keeps no size limit; the control's default (32K) would cut it.
    SendMessageW(text_, EM_SETLIMITTEXT, 0, 0);
    realTime_ = child(L"BUTTON", L"Real Time Log", BS_PUSHBUTTON, 0, names::RealTimeLog);
    viewFile_ = child(L"BUTTON", L"View Log File", BS_PUSHBUTTON, 0, names::ViewLogFile);
    applyDpi(windowDpi(hwnd_));

    // Modal to the owner: the owner takes no input while this is open.
    if (owner_ && IsWindowEnabled(owner_)) {
        EnableWindow(owner_, FALSE);
        disabledOwner_ = true;
    }
    ShowWindow(hwnd_, SW_SHOW);
    SetFocus(text_);
    realTime();
}

void LogWindow::applyDpi(UINT dpi) {
    scale_ = dpi / 96.0;
    HFONT oldMono = mono_, oldFont = font_;
    mono_ = CreateFontW(-px(12, scale_), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, FIXED_PITCH | FF_MODERN, L"Courier New");
    font_ = CreateFontW(-px(12, scale_), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, VARIABLE_PITCH | FF_SWISS, L"Arial");
    SendMessageW(text_, WM_SETFONT, reinterpret_cast<WPARAM>(mono_), TRUE);
    SendMessageW(realTime_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    SendMessageW(viewFile_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    if (oldMono) DeleteObject(oldMono);
    if (oldFont) DeleteObject(oldFont);
    layout();
}

void LogWindow::layout() {
    if (!hwnd_) return;
    RECT rc{};
    GetClientRect(hwnd_, &rc);
    const int m = px(kMargin, scale_), bw = px(kButtonWidth, scale_), bh = px(kButtonHeight, scale_);
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    const int buttonsTop = std::max(m, h - m - bh);
    MoveWindow(text_, m, m, std::max(0, w - 2 * m), std::max(0, buttonsTop - 2 * m), TRUE);
    MoveWindow(realTime_, m, buttonsTop, bw, bh, TRUE);
    MoveWindow(viewFile_, 2 * m + bw, buttonsTop, bw, bh, TRUE);
}

LRESULT CALLBACK LogWindow::proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<LogWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->handle(msg, wp, lp);
}

LRESULT LogWindow::handle(UINT msg, WPARAM wp, LPARAM lp) {
    HWND hwnd = hwnd_;
    switch (msg) {
        case WM_SIZE: layout(); return 0;
        case WM_GETMINMAXINFO: {
            auto* mm = reinterpret_cast<MINMAXINFO*>(lp);
            mm->ptMinTrackSize = {px(kMinWidth, scale_), px(kMinHeight, scale_)};
            return 0;
        }
        case 0x02E0: {  // WM_DPICHANGED: moved to a monitor of another scale
            const auto* r = reinterpret_cast<const RECT*>(lp);
            scale_ = HIWORD(wp) / 96.0;
            SetWindowPos(hwnd, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            applyDpi(HIWORD(wp));
            return 0;
        }
        case WM_CTLCOLORSTATIC:
            // The read-only text: white like an editable one, grey letters while paused.
            if (reinterpret_cast<HWND>(lp) == text_) {
                HDC dc = reinterpret_cast<HDC>(wp);
                SetTextColor(dc, live_ ? GetSysColor(COLOR_WINDOWTEXT) : kPausedText);
                SetBkColor(dc, GetSysColor(COLOR_WINDOW));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
            }
            break;
        case WM_COMMAND:
            if (HIWORD(wp) == BN_CLICKED) {
                if (reinterpret_cast<HWND>(lp) == realTime_) realTime();
                else if (reinterpret_cast<HWND>(lp) == viewFile_) chooseFile();
                else if (LOWORD(wp) == IDCANCEL) PostMessageW(hwnd, WM_CLOSE, 0, 0);
                return 0;
            }
            break;
        case WM_TIMER:
            if (wp == kPollTimer) requestLines(false);
            else if (wp == kAppendTimer) appendChunk();
            return 0;
        case WM_KEYDOWN:
            if (wp == VK_ESCAPE) {
                PostMessageW(hwnd, WM_CLOSE, 0, 0);
                return 0;
            }
            break;
        case WM_ACTIVATE:
            if (LOWORD(wp) != WA_INACTIVE) SetFocus(text_);
            return 0;
        case WM_CLOSE:
            // The owner first, so that activation goes back to it, not to another program.
            if (disabledOwner_ && owner_) EnableWindow(owner_, TRUE);
            disabledOwner_ = false;
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            KillTimer(hwnd, kPollTimer);
            KillTimer(hwnd, kAppendTimer);
            if (disabledOwner_ && owner_) EnableWindow(owner_, TRUE);
            disabledOwner_ = false;
            break;
        case WM_NCDESTROY: {
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            const LRESULT r = DefWindowProcW(hwnd, msg, wp, lp);
            closed();  // may delete this object: nothing of it is touched after
            return r;
        }
        default: break;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Keys on the window's controls. The main window's message loop is not a dialog's,
// so the keys a dialog box would take are taken here: Escape closes the window, Tab
// and Shift+Tab move between the text and the buttons, Enter presses a button.
LRESULT CALLBACK LogWindow::keys(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id, DWORD_PTR data) {
    auto* self = reinterpret_cast<LogWindow*>(data);
    switch (msg) {
        case WM_KEYDOWN:
            if (wp == VK_ESCAPE) {
                PostMessageW(self->hwnd_, WM_CLOSE, 0, 0);
                return 0;
            }
            if (wp == VK_TAB) {
                if (HWND next = GetNextDlgTabItem(self->hwnd_, hwnd, GetKeyState(VK_SHIFT) < 0)) SetFocus(next);
                return 0;
            }
            if (wp == VK_RETURN && hwnd != self->text_) {
                SendMessageW(hwnd, BM_CLICK, 0, 0);
                return 0;
            }
            break;
        case WM_CHAR:
            if (wp == VK_ESCAPE || wp == VK_TAB || (wp == VK_RETURN && hwnd != self->text_)) return 0;
            break;
        case WM_NCDESTROY: RemoveWindowSubclass(hwnd, &LogWindow::keys, id); break;
        default: break;
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

void LogWindow::closed() {
    hwnd_ = text_ = realTime_ = viewFile_ = nullptr;
    pending_.clear();
    if (post_) post_([](EngineCommands& f) { f.LogWindowClosed(); });
    if (destroying_) return;
    // A copy: the owner may delete this object (and its onClosed) from the call.
    const std::function<void()> done = onClosed;
    if (done) done();
}

void LogWindow::setCaption(const std::string& caption) {
    if (hwnd_) SetWindowTextW(hwnd_, widen(caption).c_str());
}

void LogWindow::setLive(bool live) {
    setCaption(live ? kLiveCaption : kPausedCaption);
    if (live_ != live) {
        live_ = live;
        if (text_) InvalidateRect(text_, nullptr, TRUE);
    }
}

void LogWindow::realTime() {
    if (!hwnd_) return;
    KillTimer(hwnd_, kPollTimer);
    ++generation_;
    requestLines(true);
    SetTimer(hwnd_, kPollTimer, 1000, nullptr);
}

void LogWindow::requestLines(bool restart) {
    if (!post_ || !hwnd_ || (asking_ && !restart)) return;
    asking_ = true;
    const std::size_t from = restart ? 0 : have_;
    const int generation = generation_;
    UiThread* ui = &ui_;
    std::shared_ptr<Life> life = life_;
    post_([ui, life, from, restart, generation](EngineCommands& f) {
        LogSnapshot snap = f.logSnapshot(from);
        ui->post([life, snap = std::move(snap), restart, generation]() mutable {
            if (life->self)
                life->self->applySnapshot(std::move(snap.lines), snap.total, restart || snap.restart, snap.live,
                                          generation);
        });
    });
}

void LogWindow::applySnapshot(std::vector<std::string> lines, std::size_t total, bool restart, bool live,
                              int generation) {
    asking_ = false;
    // A file was opened after this request left: the file stays on screen.
    if (generation != generation_ || !hwnd_) return;
    setLive(live);
    // While paused only the caption and colour follow; the lines wait for live
    // monitoring to resume (a restart shows everything there is).
    if (!live && !restart) return;
    if (restart) clearText();
    queueLines(std::move(lines));
    have_ = total;
}

void LogWindow::chooseFile() {
    if (!hwnd_) return;
    KillTimer(hwnd_, kPollTimer);
    std::string path;
    if (!dialogs_.chooseFile(kFileFilter, path)) return;
    viewFile(path);
}

void LogWindow::viewFile(const std::string& path) {
    if (hwnd_) KillTimer(hwnd_, kPollTimer);
    const int generation = ++generation_;
    if (!post_) return;
    UiThread* ui = &ui_;
    std::shared_ptr<Life> life = life_;
    post_([ui, life, path, generation](EngineCommands& f) {
        LogFileText file = f.readLogFile(path);
        ui->post([life, file = std::move(file), path, generation]() mutable {
            if (life->self) life->self->applyFile(file.ok, std::move(file.lines), file.problem, path, generation);
        });
    });
}

void LogWindow::applyFile(bool ok, std::vector<std::string> lines, const std::string& problem, const std::string& path,
                          int generation) {
    // "Real Time Log" or another file came after this request: that one is shown.
    if (generation != generation_ || !hwnd_) return;
    if (!ok) {
        dialogs_.messageBox(problem, "Event Log", DialogPort::OkOnly);
        return;
    }
    live_ = true;  // a file is shown in the normal colour
    clearText();
    queueLines(std::move(lines));
    setCaption("Event log - " + baseName(path));
}

void LogWindow::clearText() {
    pending_.clear();
    textEmpty_ = true;
    if (hwnd_) {
        KillTimer(hwnd_, kAppendTimer);
        SetWindowTextW(text_, L"");
    }
}

void LogWindow::queueLines(std::vector<std::string> lines) {
    if (lines.empty() || !hwnd_) return;
    for (std::string& line : lines) pending_.push_back(std::move(line));
    // A timer, not a posted message: posted messages come before input and painting,
    // a timer's after them, so the window answers the user between two chunks.
    SetTimer(hwnd_, kAppendTimer, USER_TIMER_MINIMUM, nullptr);
    appendChunk();
}

void LogWindow::appendChunk() {
    if (!hwnd_) return;
    std::wstring chunk;
    while (!pending_.empty() && chunk.size() < kChunkChars) {
        if (!textEmpty_ || !chunk.empty()) chunk += L"\r\n";
        chunk += shownLine(pending_.front());
        pending_.pop_front();
        // An empty first line still counts: the next one goes below it.
        if (chunk.empty()) textEmpty_ = false;
    }
    if (!chunk.empty()) {
        textEmpty_ = false;
        const int end = GetWindowTextLengthW(text_);
        SendMessageW(text_, EM_SETSEL, end, end);
        SendMessageW(text_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(chunk.c_str()));
        SendMessageW(text_, EM_SCROLLCARET, 0, 0);
    }
    if (pending_.empty()) KillTimer(hwnd_, kAppendTimer);
}

}  // namespace raid::win
