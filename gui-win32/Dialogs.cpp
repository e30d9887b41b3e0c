#include "gui-win32/Dialogs.h"

#include <commdlg.h>
#include <objbase.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "gui-win32/Text.h"
#include "gui-win32/UiThread.h"

namespace raid::win {

struct WinDialogs::Request {
    std::string text, caption;  // for the file dialog: text is the filter
    int buttons = OkOnly;
    bool file = false;
    // Guarded by State::mu.
    bool finished = false;  // answered, or given up on
    bool answered = false;
    int answer = Ok;
    std::string chosen;     // the file dialog's answer ("" = cancelled)
};

// Shared with what is posted to the window's thread, so that a post still queued when
// this object goes away touches nothing that has gone.
struct WinDialogs::State {
    std::mutex mu;
    std::condition_variable finished;
    bool closed = false;
    Hook hook;
    FileHook fileHook;
    std::vector<Shown> shown;
    HWND owner = nullptr;
    // Window's thread only: the questions waiting for the open box to be answered.
    std::deque<std::shared_ptr<Request>> queue;
    bool showing = false;

    void finish(const std::shared_ptr<Request>& r, bool answered, int answer, std::string chosen) {
        std::lock_guard<std::mutex> lock(mu);
        r->answered = answered;
        r->answer = answer;
        r->chosen = std::move(chosen);
        r->finished = true;
        finished.notify_all();
    }
    bool isClosed() {
        std::lock_guard<std::mutex> lock(mu);
        return closed;
    }
    HWND ownerNow() {
        HWND o = nullptr;
        {
            std::lock_guard<std::mutex> lock(mu);
            o = owner;
        }
        if (!o || !IsWindow(o)) return nullptr;
        // While a window of ours is modal to the owner (the event log window), the box
        // belongs to that one: owned by the disabled main window, closing the box would
        // enable the main window under the open modal one.
        HWND popup = GetLastActivePopup(o);
        if (popup && popup != o && IsWindowVisible(popup) && IsWindowEnabled(popup)) return popup;
        return o;
    }
    // Window's thread: shows the queued questions one after the other.
    void runQueued();
    void show(const std::shared_ptr<Request>& r);
};

namespace {

int boxAnswer(int id, int buttons) {
    switch (id) {
        case IDOK: return DialogPort::Ok;
        case IDCANCEL: return DialogPort::Cancel;
        case IDYES: return DialogPort::Yes;
        case IDNO: return DialogPort::No;
        default: break;
    }
    // The box could not be shown: the cautious answer.
    return buttons == DialogPort::OkCancel ? DialogPort::Cancel : buttons == DialogPort::YesNo ? DialogPort::No : DialogPort::Ok;
}

UINT boxStyle(const std::string& caption, int buttons) {
    UINT style = MB_SETFOREGROUND;
    // "Warning:" is the caption of a firmware file that cannot be read: an error.
    if (caption.empty() || caption == "Error" || caption == "Warning:")
        style |= MB_ICONERROR;
    else if (caption.rfind("Warning", 0) == 0 || caption == "Firmware Upgrade Message")
        style |= MB_ICONWARNING;
    else if (buttons == DialogPort::YesNo)
        style |= MB_ICONQUESTION;
    else
        style |= MB_ICONINFORMATION;  // "Message", "E-Mail Message", "System Information"
    switch (buttons) {
        case DialogPort::OkCancel: style |= MB_OKCANCEL; break;
        case DialogPort::YesNo: style |= MB_YESNO; break;
        default: style |= MB_OK; break;
    }
    return style;
}

int showBox(HWND owner, const std::string& text, const std::string& caption, int buttons) {
    const std::wstring wtext = widen(text);
    const std::wstring wcaption = widen(WinDialogs::shownCaption(caption));
    // Without an owner every window of this thread is held, as under an owner.
    const UINT modality = owner ? MB_APPLMODAL : MB_TASKMODAL;
    return boxAnswer(MessageBoxW(owner, wtext.c_str(), wcaption.c_str(), boxStyle(caption, buttons) | modality), buttons);
}

std::string openFile(HWND owner, const std::string& filter) {
    // The explorer-style dialog runs shell code that wants a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::wstring wfilter = WinDialogs::nativeFilter(filter);
    // Room for the longest path Windows knows (\\?\ paths), not MAX_PATH.
    std::wstring buffer(32768, L'\0');
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = wfilter.empty() ? nullptr : wfilter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = buffer.data();
    ofn.nMaxFile = static_cast<DWORD>(buffer.size());
    // The page's file dialog: sizing enabled, the file must exist; the program's
    // current folder stays where it was (day logs and settings are found from it).
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_ENABLESIZING |
                OFN_HIDEREADONLY;
    std::string chosen;
    if (GetOpenFileNameW(&ofn)) chosen = narrow(std::wstring(buffer.c_str()));
    if (SUCCEEDED(com)) CoUninitialize();
    return chosen;
}

}  // namespace

void WinDialogs::State::runQueued() {
    // A box asked for while one is open waits for it (this is reached again from the
    // open box's own message loop).
    if (showing) return;
    showing = true;
    while (!queue.empty()) {
        std::shared_ptr<Request> r = std::move(queue.front());
        queue.pop_front();
        show(r);
    }
    showing = false;
}

void WinDialogs::State::show(const std::shared_ptr<Request>& r) {
    if (isClosed()) {
        finish(r, false, Ok, {});
        return;
    }
    if (r->file) {
        std::string chosen = openFile(ownerNow(), r->text);
        finish(r, true, Ok, std::move(chosen));
    } else {
        finish(r, true, showBox(ownerNow(), r->text, r->caption, r->buttons), {});
    }
}

WinDialogs::WinDialogs(UiThread& ui) : ui_(ui), state_(std::make_shared<State>()) {}

WinDialogs::~WinDialogs() { shutdown(); }

void WinDialogs::setOwner(HWND owner) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->owner = owner;
}

void WinDialogs::setTestHook(Hook hook) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->hook = std::move(hook);
}

void WinDialogs::setFileHook(FileHook hook) {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->fileHook = std::move(hook);
}

std::vector<WinDialogs::Shown> WinDialogs::shown() const {
    std::lock_guard<std::mutex> lock(state_->mu);
    return state_->shown;
}

void WinDialogs::shutdown() {
    std::lock_guard<std::mutex> lock(state_->mu);
    state_->closed = true;
    state_->finished.notify_all();
}

int WinDialogs::messageBox(const std::string& text, const std::string& caption, int buttons) {
    Hook hook;
    {
        std::lock_guard<std::mutex> lock(state_->mu);
        state_->shown.push_back({text, shownCaption(caption), buttons});
        if (state_->closed) return Ok;
        hook = state_->hook;
    }
    if (hook) return hook(text, shownCaption(caption), buttons);
    // Asked on the window's own thread (no engine in between): a plain modal box.
    if (ui_.onThisThread()) return showBox(state_->ownerNow(), text, caption, buttons);
    auto r = std::make_shared<Request>();
    r->text = text;
    r->caption = caption;
    r->buttons = buttons;
    return ask(r) ? r->answer : Ok;
}

bool WinDialogs::chooseFile(const std::string& filter, std::string& path) {
    FileHook hook;
    {
        std::lock_guard<std::mutex> lock(state_->mu);
        if (state_->closed) return false;
        hook = state_->fileHook;
    }
    if (hook) {
        path = hook(filter);
        return !path.empty();
    }
    if (ui_.onThisThread()) {
        path = openFile(state_->ownerNow(), filter);
        return !path.empty();
    }
    auto r = std::make_shared<Request>();
    r->file = true;
    r->text = filter;
    if (!ask(r)) return false;
    path = r->chosen;
    return !path.empty();
}

namespace {
// Travels with a question posted to the window's thread. Should the post be dropped
// without running (the window's thread closing), the asker is let go rather than
// left waiting for an answer that cannot come.
struct Ticket {
    std::shared_ptr<WinDialogs::State> state;
    std::shared_ptr<WinDialogs::Request> request;
    bool delivered = false;
    ~Ticket() {
        if (!delivered) state->finish(request, false, DialogPort::Ok, {});
    }
};
}  // namespace

bool WinDialogs::ask(const std::shared_ptr<Request>& r) {
    auto ticket = std::make_shared<Ticket>();
    ticket->state = state_;
    ticket->request = r;
    // Posted without the lock: a refused post frees the ticket at once, which takes it.
    ui_.post([ticket] {
        ticket->delivered = true;
        ticket->state->queue.push_back(ticket->request);
        ticket->state->runQueued();
    });
    ticket.reset();
    std::unique_lock<std::mutex> lock(state_->mu);
    state_->finished.wait(lock, [&] { return r->finished || state_->closed; });
    return r->finished && r->answered;
}

std::wstring WinDialogs::nativeFilter(const std::string& filter) {
    std::vector<std::wstring> parts;
    std::size_t at = 0;
    while (at <= filter.size()) {
        const std::size_t bar = std::min(filter.find('|', at), filter.size());
        std::wstring part = widen(filter.substr(at, bar - at));
        // A NUL inside a part would cut the list there.
        std::erase(part, L'\0');
        parts.push_back(std::move(part));
        at = bar + 1;
    }
    if (filter.empty()) return {};
    if (parts.size() % 2) parts.emplace_back();
    std::wstring out;
    for (std::size_t i = 0; i < parts.size(); i += 2) {
        if (parts[i].empty() && parts[i + 1].empty()) continue;  // a stray "|" at the end
        std::wstring pattern = parts[i + 1].empty() ? L"*.*" : parts[i + 1];
        std::wstring name = parts[i].empty() ? pattern : parts[i];
        out += name;
        out += L'\0';
        out += pattern;
        out += L'\0';
    }
    if (out.empty()) return {};
    // The second NUL that ends the list; c_str() adds one more.
    out += L'\0';
    return out;
}

}  // namespace raid::win
