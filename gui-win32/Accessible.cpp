#include "gui-win32/Accessible.h"

#include <atomic>
#include <string>

#include <commctrl.h>
#include <oleacc.h>

#include "app/AccessibleText.h"
#include "app/ControlNames.h"
#include "gui-win32/ControlIds.h"
#include "gui-win32/MainWindow.h"
#include "gui-win32/Text.h"
#include "gui-win32/WindowParts.h"

namespace raid::win {

namespace {

using access::Role;

constexpr UINT_PTR kSubclassId = 0x52414944;  // "RAID"

LONG msaaRole(Role role) {
    switch (role) {
        case Role::Button: return ROLE_SYSTEM_PUSHBUTTON;
        case Role::PageTab: return ROLE_SYSTEM_PAGETAB;
        case Role::Graphic: return ROLE_SYSTEM_GRAPHIC;
        case Role::CheckBox: return ROLE_SYSTEM_CHECKBUTTON;
        case Role::Edit: return ROLE_SYSTEM_TEXT;
        case Role::ComboBox: return ROLE_SYSTEM_COMBOBOX;
        case Role::Table: return ROLE_SYSTEM_LIST;  // a one-column list view of addresses
        case Role::ProgressBar: return ROLE_SYSTEM_PROGRESSBAR;
        case Role::None: break;
    }
    return 0;
}

// What the window shows in the control now; nullptr once the window is gone.
const MainWindow::Entry* entryOf(HWND hwnd, const std::string& name) {
    const MainWindow* w = detail::windowOf(hwnd);
    return w ? w->entry(name) : nullptr;
}

BSTR bstr(const std::string& text) {
    const std::wstring w = widen(text);
    return SysAllocStringLen(w.data(), static_cast<UINT>(w.size()));
}

bool isSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

// The standard object of the control does the work (where it is, its children, its
// value, focus and hit tests); this one only says what a picture cannot.
class ControlAccessible final : public IAccessible, public IOleWindow {
public:
    ControlAccessible(HWND hwnd, IAccessible* inner, std::string name)
        : hwnd_(hwnd), inner_(inner), name_(std::move(name)), desc_(access::describe(name_)) {}

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible))
            *out = static_cast<IAccessible*>(this);
        else if (iid == __uuidof(IOleWindow))
            *out = static_cast<IOleWindow*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    // IOleWindow: which window this object stands for.
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* out) override {
        if (!out) return E_POINTER;
        *out = hwnd_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return inner_->GetTypeInfoCount(n); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override { return inner_->GetTypeInfo(i, l, t); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l, DISPID* d) override {
        return inner_->GetIDsOfNames(r, n, c, l, d);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID d, REFIID r, LCID l, WORD f, DISPPARAMS* p, VARIANT* v, EXCEPINFO* e,
                                     UINT* a) override {
        return inner_->Invoke(d, r, l, f, p, v, e, a);
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** p) override { return inner_->get_accParent(p); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* n) override { return inner_->get_accChildCount(n); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT c, IDispatch** p) override { return inner_->get_accChild(c, p); }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* out) override {
        if (!out) return E_POINTER;
        if (!isSelf(child)) return inner_->get_accName(child, out);
        if (desc_.role == Role::Graphic) {
            // The drives' health is the picture's name: what a reader says first.
            const MainWindow::Entry* e = entryOf(hwnd_, name_);
            *out = bstr("Enclosure. " + access::baysHealth(e ? e->bays : BaysView{}));
            return *out ? S_OK : E_OUTOFMEMORY;
        }
        if (desc_.name.empty()) return inner_->get_accName(child, out);
        *out = bstr(desc_.name);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT c, BSTR* out) override { return inner_->get_accValue(c, out); }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* out) override {
        if (!out) return E_POINTER;
        if (!isSelf(child) || desc_.role != Role::Graphic) return inner_->get_accDescription(child, out);
        const MainWindow::Entry* e = entryOf(hwnd_, name_);
        *out = bstr(access::baysText(e ? e->bays : BaysView{}));
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* out) override {
        if (!out) return E_POINTER;
        const LONG role = msaaRole(desc_.role);
        if (!isSelf(child) || role == 0) return inner_->get_accRole(child, out);
        VariantInit(out);
        out->vt = VT_I4;
        out->lVal = role;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* out) override {
        if (!out) return E_POINTER;
        const HRESULT hr = inner_->get_accState(child, out);
        if (FAILED(hr) || !isSelf(child) || out->vt != VT_I4) return hr;
        const MainWindow::Entry* e = entryOf(hwnd_, name_);
        if (desc_.role == Role::PageTab) {
            // A page or device picture shows its yellow face while it is the chosen one.
            out->lVal &= ~(STATE_SYSTEM_SELECTED | STATE_SYSTEM_CHECKED | STATE_SYSTEM_PRESSED);
            out->lVal |= STATE_SYSTEM_SELECTABLE;
            if (e && e->highlighted()) out->lVal |= STATE_SYSTEM_SELECTED | STATE_SYSTEM_CHECKED;
        }
        if (desc_.role == Role::Graphic) out->lVal |= STATE_SYSTEM_READONLY;
        if (desc_.role == Role::CheckBox && SendMessageW(hwnd_, BM_GETCHECK, 0, 0) == BST_CHECKED)
            out->lVal |= STATE_SYSTEM_CHECKED;  // not every system's standard object says so
        if (e && e->kind == MainWindow::Kind::Container) {
            // The fan panel: a container that takes the focus like a button.
            out->lVal |= STATE_SYSTEM_FOCUSABLE;
            if (GetFocus() == hwnd_) out->lVal |= STATE_SYSTEM_FOCUSED;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT c, BSTR* out) override { return inner_->get_accHelp(c, out); }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* f, VARIANT c, long* t) override {
        return inner_->get_accHelpTopic(f, c, t);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* out) override {
        if (!out) return E_POINTER;
        if (!isSelf(child) || !desc_.mnemonic) return inner_->get_accKeyboardShortcut(child, out);
        *out = bstr(std::string("Alt+") + desc_.mnemonic);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* out) override { return inner_->get_accFocus(out); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* out) override { return inner_->get_accSelection(out); }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* out) override {
        if (!out) return E_POINTER;
        if (!isSelf(child) || !clickable()) return inner_->get_accDefaultAction(child, out);
        *out = SysAllocString(desc_.role == Role::PageTab ? L"Switch" : L"Press");
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT c) override { return inner_->accSelect(flags, c); }
    HRESULT STDMETHODCALLTYPE accLocation(long* x, long* y, long* w, long* h, VARIANT c) override {
        return inner_->accLocation(x, y, w, h, c);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long dir, VARIANT start, VARIANT* out) override {
        return inner_->accNavigate(dir, start, out);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* out) override { return inner_->accHitTest(x, y, out); }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (!isSelf(child) || !clickable()) return inner_->accDoDefaultAction(child);
        if (!IsWindowEnabled(hwnd_) || !IsWindowVisible(hwnd_)) return E_FAIL;
        // A click, on the window's own turn: the caller (perhaps another process) is not
        // held while what the click opens (a file dialog, a box) waits for the user.
        return PostMessageW(hwnd_, BM_CLICK, 0, 0) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT c, BSTR n) override { return inner_->put_accName(c, n); }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT c, BSTR v) override { return inner_->put_accValue(c, v); }

private:
    ~ControlAccessible() { inner_->Release(); }
    bool clickable() const { return desc_.role == Role::Button || desc_.role == Role::PageTab; }

    std::atomic<ULONG> refs_{1};
    HWND hwnd_;
    IAccessible* inner_;
    std::string name_;
    access::Description desc_;
};

// The object reads the window's own state: it is handed out only from a single-threaded
// apartment, where every call on it, from this process or another, comes on this thread.
bool singleThreaded() {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && (type == APTTYPE_STA || type == APTTYPE_MAINSTA);
}

LRESULT CALLBACK answerObject(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR) {
    if (msg == WM_NCDESTROY) {
        RemoveWindowSubclass(hwnd, answerObject, kSubclassId);
    } else if (msg == WM_GETOBJECT && static_cast<LONG>(lp) == OBJID_CLIENT && singleThreaded()) {
        IAccessible* inner = nullptr;
        const std::string name = controlName(hwnd);
        if (!name.empty() && SUCCEEDED(CreateStdAccessibleObject(hwnd, OBJID_CLIENT, __uuidof(IAccessible),
                                                                 reinterpret_cast<void**>(&inner))) &&
            inner) {
            auto* object = new ControlAccessible(hwnd, inner, name);
            const LRESULT result = LresultFromObject(__uuidof(IAccessible), wp, static_cast<IAccessible*>(object));
            object->Release();  // the result holds its own reference
            if (result > 0) return result;
        }
    }
    return DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace

void makeAccessible(HWND control) {
    const std::string name = controlName(control);
    if (name.empty() || access::describe(name).role == Role::None) return;
    SetWindowSubclass(control, answerObject, kSubclassId, 0);
}

void announceBays(HWND bays, const BaysView& before, const BaysView& after) {
    if (access::baysText(before) != access::baysText(after))
        NotifyWinEvent(EVENT_OBJECT_DESCRIPTIONCHANGE, bays, OBJID_CLIENT, CHILDID_SELF);
    if (access::baysHealth(before) != access::baysHealth(after)) {
        NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, bays, OBJID_CLIENT, CHILDID_SELF);
        NotifyWinEvent(EVENT_SYSTEM_ALERT, bays, OBJID_CLIENT, CHILDID_SELF);
    }
}

void announceSelection(HWND image) { NotifyWinEvent(EVENT_OBJECT_STATECHANGE, image, OBJID_CLIENT, CHILDID_SELF); }

}  // namespace raid::win
