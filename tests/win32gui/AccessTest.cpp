// The native window for someone without a mouse or without sight: the whole window
// driven by keys alone, and what a screen reader and UI Automation read of it, on
// simulated enclosures under Wine.
#include <fstream>
#include <set>
#include <thread>

#include <oleacc.h>

#include "WinWindowRig.h"
#include "gui/StatusScenarios.h"
#include "app/AccessibleText.h"
#include "app/ControlNames.h"
#include "gui-win32/ControlIds.h"
#include "gui-win32/HistoryWindow.h"
#include "platform/Platform.h"
#include "sim/FirmwareImages.h"
#include "sim/Records.h"

namespace raid::win::test {
namespace {

class WinAccessTest : public WinWindowRig {
protected:
    // A key pressed on the control that has the focus, as the keyboard sends it; returns
    // once the window's loop, then the engine, have handled it and what it changed is shown.
    void key(WPARAM vk, bool alt = false) {
        // With no control focused, the keys go to the window itself, as they do on a
        // window just activated.
        HWND to = GetFocus() ? GetFocus() : GetActiveWindow();
        ASSERT_NE(to, nullptr) << "no window of the test is active";
        const UINT down = alt ? WM_SYSKEYDOWN : WM_KEYDOWN, up = alt ? WM_SYSKEYUP : WM_KEYUP;
        const LPARAM flags = alt ? (1 | (static_cast<LPARAM>(KF_ALTDOWN) << 16)) : 1;
        PostMessageW(to, down, vk, flags);
        PostMessageW(to, up, vk, flags | static_cast<LPARAM>(0xC0000000));
        // Posted messages run in order: a mark posted now runs after both keys.
        auto handled = std::make_shared<bool>(false);
        session_->ui().post([handled] { *handled = true; });
        ASSERT_TRUE(pumpUntil([handled] { return *handled; }, kWaitMs));
        settle();
    }
    void typeKeys(const std::string& text) {
        HWND to = GetFocus();
        for (wchar_t c : widen(text)) PostMessageW(to, WM_CHAR, c, 1);
        auto handled = std::make_shared<bool>(false);
        session_->ui().post([handled] { *handled = true; });
        ASSERT_TRUE(pumpUntil([handled] { return *handled; }, kWaitMs));
        settle();
    }
    std::string focused() { return controlName(GetFocus()); }
    // Tab until `name` has the focus; false if a whole round of the window never reaches it.
    bool tabTo(const std::string& name) {
        for (int i = 0; i < 80 && focused() != name; ++i) key(VK_TAB);
        return focused() == name;
    }
    bool pageIs(int page) {
        return waitFor([&] { return currentPage() == page && shownPage(names::Notebook1) == page; });
    }
};

TEST_F(WinAccessTest, TheWholeWindowByKeysOnly) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QX_RAID_GUI");
    start("", 0, machineSettingsName());
    ASSERT_TRUE(waitForDetection());
    settle();
    // The user brings the window to the front; from there on, keys only.
    SetForegroundWindow(session_->window());
    ASSERT_TRUE(tabTo(names::Image_Sts));

    // Alt with a page's letter opens the page, through the picture's own click.
    for (const auto& [letter, page] : {std::pair{'U', 2}, {'E', 3}, {'A', 4}, {'S', 0}}) {
        key(static_cast<WPARAM>(letter), true);
        EXPECT_TRUE(pageIs(page)) << letter;
    }
    EXPECT_EQ(focused(), names::Image_Sts) << "a page's letter does not move the focus";

    // Tab goes round the Status page: the page pictures, the device boxes, the page;
    // every picture that acts when clicked, and the fan panel, is on the way.
    std::vector<std::string> order{focused()};
    for (int i = 0; i < 60; ++i) {
        key(VK_TAB);
        if (focused() == order.front()) break;
        order.push_back(focused());
    }
    ASSERT_EQ(focused(), order.front()) << "Tab never came round";
    const auto at = [&](const std::string& n) { return std::find(order.begin(), order.end(), n) - order.begin(); };
    EXPECT_LT(at(names::Image_About), at(names::CheckBox1));
    EXPECT_LT(at(names::CheckBox1), at(names::Image0_Log));
    for (const std::string& n : names::all()) {
        const MainWindow::Entry* e = session_->mainWindow().entry(n);
        const bool acts = e && (e->kind == MainWindow::Kind::Image || n == names::Panel11);
        if (acts && IsWindowVisible(e->hwnd) && IsWindowEnabled(e->hwnd)) {
            EXPECT_NE(at(n), static_cast<std::ptrdiff_t>(order.size())) << n << " is never reached by Tab";
        }
    }

    // The fan panel opens the chart with Enter, the event log opens with Space on its
    // picture; Escape closes each.
    ASSERT_TRUE(tabTo(names::Panel11));
    key(VK_RETURN);
    ASSERT_TRUE(waitFor([this] {
        return session_->historyWindow() && GetFocus() &&
               GetAncestor(GetFocus(), GA_ROOT) == session_->historyWindow()->hwnd();
    })) << "the chart opened with the focus in it";
    key(VK_ESCAPE);
    ASSERT_TRUE(waitFor([this] { return session_->historyWindow() == nullptr; }));
    ASSERT_TRUE(waitFor([this] { return focused() == names::Panel11; })) << "the focus came back: " << focused();
    ASSERT_TRUE(tabTo(names::Image0_Log));
    key(VK_SPACE);
    ASSERT_TRUE(waitFor([this] { return session_->logWindow() != nullptr; }));
    ASSERT_TRUE(waitFor([this] { return GetFocus() && GetAncestor(GetFocus(), GA_ROOT) == session_->logWindow(); }));
    key(VK_ESCAPE);
    ASSERT_TRUE(waitFor([this] { return session_->logWindow() == nullptr; }));
    ASSERT_TRUE(waitFor([this] { return focused() == names::Image0_Log; })) << "the focus came back: " << focused();

    // The E-mail page: a field typed, saved with OK.
    key('E', true);
    ASSERT_TRUE(pageIs(3));
    ASSERT_TRUE(tabTo(names::Edit2));
    typeKeys("mail.keys.example");
    ASSERT_TRUE(waitFor([this] { return engineText(names::Edit2) == "mail.keys.example"; })) << text(names::Edit2);
    ASSERT_TRUE(tabTo(names::Image3_OK));
    key(VK_RETURN);
    const auto saved = onEngine([](MainForm& f) { return f.settings(); });
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->smtpHost(), "mail.keys.example");

    // A firmware upgrade: the device tab, Load and the file dialog, Upgrade.
    const std::filesystem::path image = logs_ / "keys.bin";
    {
        const std::vector<std::uint8_t> bytes = sim::makeFirmwareImage();
        std::ofstream(image, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    key('U', true);
    ASSERT_TRUE(pageIs(2));
    ASSERT_TRUE(tabTo(names::Image2_D1));
    key(VK_SPACE);
    ASSERT_TRUE(waitFor([this] { return IsWindowEnabled(control(names::Image2_Load)) != FALSE; }));
    ASSERT_TRUE(tabTo(names::Image2_Load));
    bool typed = false;
    std::thread user([&] {
        if (HWND dialog = waitForDialog("Open")) typed = chooseInDialog(dialog, image.wstring());
    });
    key(VK_RETURN);
    const bool chosen = waitFor([&] { return text(names::Edit9) == narrow(image.wstring()); });
    user.join();
    ASSERT_TRUE(typed && chosen) << text(names::Edit9);
    ASSERT_TRUE(tabTo(names::Image2_Upgrade));
    key(VK_RETURN);
    EXPECT_TRUE(waitFor([&] {
        for (const std::string& b : boxes_.boxes())
            if (b.rfind("Firmware Upgrade Message: Firmware Upgrade 2/2completed!", 0) == 0) return true;
        return false;
    })) << (boxes_.boxes().empty() ? std::string("no box") : boxes_.boxes().back());
    stop();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QX_RAID_GUI");
}

// ---- what assistive technology reads ------------------------------------------------

// Events the window raised for assistive technology, as a screen reader's hook sees them.
std::vector<std::pair<DWORD, HWND>> gEvents;

void CALLBACK noteEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD) {
    if (object == OBJID_CLIENT && child == CHILDID_SELF) gEvents.emplace_back(event, hwnd);
}

struct Read {
    LONG role = 0;
    LONG state = 0;
    std::string name, description, shortcut, action;
};

// The control's object as a screen reader gets it (nullptr for none), and the
// argument that names the control itself rather than a child.
IAccessible* accessibleOf(HWND h) {
    IAccessible* acc = nullptr;
    if (FAILED(AccessibleObjectFromWindow(h, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                          reinterpret_cast<void**>(&acc))))
        return nullptr;
    return acc;
}
VARIANT selfChild() {
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    return self;
}

// What MSAA (and through it, UI Automation) reads of a control.
Read readControl(HWND h) {
    Read r;
    IAccessible* acc = accessibleOf(h);
    if (!acc) return r;
    const VARIANT self = selfChild();
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(acc->get_accRole(self, &v)) && v.vt == VT_I4) r.role = v.lVal;
    VariantClear(&v);
    if (SUCCEEDED(acc->get_accState(self, &v)) && v.vt == VT_I4) r.state = v.lVal;
    VariantClear(&v);
    const auto text = [&](HRESULT (STDMETHODCALLTYPE IAccessible::*get)(VARIANT, BSTR*)) {
        BSTR b = nullptr;
        std::string out;
        if (SUCCEEDED((acc->*get)(self, &b)) && b) out = narrow(std::wstring(b, SysStringLen(b)));
        SysFreeString(b);
        return out;
    };
    r.name = text(&IAccessible::get_accName);
    r.description = text(&IAccessible::get_accDescription);
    r.shortcut = text(&IAccessible::get_accKeyboardShortcut);
    r.action = text(&IAccessible::get_accDefaultAction);
    acc->Release();
    return r;
}

HRESULT doDefaultAction(HWND h) {
    IAccessible* acc = accessibleOf(h);
    if (!acc) return E_FAIL;
    const HRESULT hr = acc->accDoDefaultAction(selfChild());
    acc->Release();
    return hr;
}

// UI Automation's own reading of a control, through its core (uiautomationcore.dll):
// the name, control type and AutomationId a UIA client gets. Where the core has no
// bridge for a window (Wine 8 has none for HWNDs), the control's IAccessible is handed
// to the core's MSAA bridge directly, the one Windows puts in front of this window:
// everything but the AutomationId, which Windows takes from the control ID. Nothing is
// read where the system has no UI Automation core.
struct UiaRead {
    bool available = false;
    bool viaWindow = false;  // the core's own bridge for the window (AutomationId included)
    std::string name, automationId;
    int controlType = 0;
};

UiaRead readUia(HWND h) {
    using Node = void*;
    using FromHandle = HRESULT(WINAPI*)(HWND, Node*);
    using FromAccessible = HRESULT(WINAPI*)(IAccessible*, long, DWORD, IUnknown**);
    using FromProvider = HRESULT(WINAPI*)(IUnknown*, Node*);
    using GetProperty = HRESULT(WINAPI*)(Node, int, VARIANT*);
    using Release = BOOL(WINAPI*)(Node);
    static HMODULE core = LoadLibraryW(L"uiautomationcore.dll");
    UiaRead r;
    if (!core) return r;
    const auto fn = [](const char* name) { return reinterpret_cast<void (*)()>(GetProcAddress(core, name)); };
    auto fromHandle = reinterpret_cast<FromHandle>(fn("UiaNodeFromHandle"));
    auto fromAccessible = reinterpret_cast<FromAccessible>(fn("UiaProviderFromIAccessible"));
    auto fromProvider = reinterpret_cast<FromProvider>(fn("UiaNodeFromProvider"));
    auto get = reinterpret_cast<GetProperty>(fn("UiaGetPropertyValue"));
    auto release = reinterpret_cast<Release>(fn("UiaNodeRelease"));
    if (!fromHandle || !fromAccessible || !fromProvider || !get || !release) return r;
    Node node = nullptr;
    r.viaWindow = SUCCEEDED(fromHandle(h, &node)) && node;
    if (!r.viaWindow) {
        IAccessible* acc = accessibleOf(h);
        IUnknown* provider = nullptr;
        if (acc && SUCCEEDED(fromAccessible(acc, CHILDID_SELF, 0 /* UIA_PFIA_DEFAULT */, &provider)) && provider)
            (void)fromProvider(provider, &node);
        if (provider) provider->Release();
        if (acc) acc->Release();
    }
    if (!node) return r;
    r.available = true;
    constexpr int kControlType = 30003, kName = 30005, kAutomationId = 30011;  // UIA_*PropertyId
    VARIANT v;
    VariantInit(&v);
    if (SUCCEEDED(get(node, kName, &v)) && v.vt == VT_BSTR) r.name = narrow(std::wstring(v.bstrVal, SysStringLen(v.bstrVal)));
    VariantClear(&v);
    if (SUCCEEDED(get(node, kControlType, &v)) && v.vt == VT_I4) r.controlType = v.lVal;
    VariantClear(&v);
    if (SUCCEEDED(get(node, kAutomationId, &v)) && v.vt == VT_BSTR)
        r.automationId = narrow(std::wstring(v.bstrVal, SysStringLen(v.bstrVal)));
    VariantClear(&v);
    release(node);
    return r;
}

TEST_F(WinAccessTest, ScreenReadersGetRolesNamesStatesAndTheEnclosureInWords) {
    start("status-rebuild.scenario");
    ASSERT_TRUE(waitForDetection());
    ASSERT_TRUE(waitFor([this] { return readControl(control(names::Image0_Bays)).description.find("37 %") != std::string::npos; }))
        << readControl(control(names::Image0_Bays)).description;

    const std::pair<const char*, LONG> expected[] = {
        {names::Image_Sts, ROLE_SYSTEM_PAGETAB},      {names::Image_FWUpg, ROLE_SYSTEM_PAGETAB},
        {names::Image_Email, ROLE_SYSTEM_PAGETAB},    {names::Image_About, ROLE_SYSTEM_PAGETAB},
        {names::Image0_D1, ROLE_SYSTEM_PAGETAB},      {names::Image2_D2, ROLE_SYSTEM_PAGETAB},
        {names::Image3_Setup, ROLE_SYSTEM_PAGETAB},   {names::Image0_Log, ROLE_SYSTEM_PUSHBUTTON},
        {names::Image2_Load, ROLE_SYSTEM_PUSHBUTTON}, {names::Image2_Upgrade, ROLE_SYSTEM_PUSHBUTTON},
        {names::Image3_OK, ROLE_SYSTEM_PUSHBUTTON},   {names::Image3_Ignore, ROLE_SYSTEM_PUSHBUTTON},
        {names::Image3_1P, ROLE_SYSTEM_PUSHBUTTON},   {names::Image3_2M, ROLE_SYSTEM_PUSHBUTTON},
        {names::Image3_TestMail, ROLE_SYSTEM_PUSHBUTTON}, {names::Panel11, ROLE_SYSTEM_PUSHBUTTON},
        {names::CheckBox1, ROLE_SYSTEM_CHECKBUTTON},  {names::CheckBox8, ROLE_SYSTEM_CHECKBUTTON},
        {names::StringGrid1, ROLE_SYSTEM_LIST},       {names::ProgressBar1, ROLE_SYSTEM_PROGRESSBAR},
        {names::Edit2, ROLE_SYSTEM_TEXT},             {names::ComboBox1, ROLE_SYSTEM_COMBOBOX},
        {names::Image0_Bays, ROLE_SYSTEM_GRAPHIC},
    };
    for (const auto& [name, role] : expected) {
        const Read r = readControl(control(name));
        EXPECT_EQ(r.role, role) << name;
        EXPECT_FALSE(r.name.empty()) << name;
        if (role != ROLE_SYSTEM_GRAPHIC) {
            EXPECT_EQ(r.name, access::describe(name).name) << name;
        }
    }
    const Read status = readControl(control(names::Image_Sts));
    EXPECT_EQ(status.shortcut, "Alt+S");
    EXPECT_EQ(status.action, "Switch");
    EXPECT_TRUE(status.state & STATE_SYSTEM_SELECTED) << "the page shown";
    EXPECT_FALSE(readControl(control(names::Image_About)).state & STATE_SYSTEM_SELECTED);
    EXPECT_TRUE(readControl(control(names::CheckBox1)).state & STATE_SYSTEM_CHECKED);
    EXPECT_TRUE(readControl(control(names::Panel11)).state & STATE_SYSTEM_FOCUSABLE);
    EXPECT_EQ(readControl(control(names::Image0_Log)).action, "Press");

    // UI Automation reads the same through its MSAA bridge: the control type from the
    // role, and (where the bridge reads them: Wine 8's gives the control type only) the
    // name, and the control's ID as its AutomationId.
    for (const auto& [name, type] : {std::pair{names::Image_Sts, 50019 /* TabItem */},
                                     {names::Image0_Log, 50000 /* Button */}, {names::Image0_Bays, 50006 /* Image */},
                                     {names::CheckBox1, 50002 /* CheckBox */}}) {
        const UiaRead u = readUia(control(name));
        if (!u.available) break;  // no UI Automation core: MSAA above is what there is
        EXPECT_EQ(u.controlType, type) << name;
        if (!u.name.empty()) {
            EXPECT_EQ(u.name, readControl(control(name)).name) << name;
        }
        if (u.viaWindow) {
            EXPECT_EQ(u.automationId, std::to_string(controlId(name))) << name;
        }
    }

    gEvents.clear();
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, noteEvent, GetCurrentProcessId(), 0,
                                         WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    const auto raised = [](DWORD event, HWND h) {
        return std::find(gEvents.begin(), gEvents.end(), std::pair{event, h}) != gEvents.end();
    };
    // Pressing a picture from assistive technology is its click; the page tab's
    // selection changes and says so.
    EXPECT_EQ(doDefaultAction(control(names::Image_About)), S_OK);
    ASSERT_TRUE(pageIs(4));
    EXPECT_TRUE(readControl(control(names::Image_About)).state & STATE_SYSTEM_SELECTED);
    EXPECT_TRUE(waitFor([&] { return raised(EVENT_OBJECT_STATECHANGE, control(names::Image_About)); }));
    EXPECT_EQ(doDefaultAction(control(names::Image_Sts)), S_OK);
    ASSERT_TRUE(pageIs(0));
    // A control on a page not shown cannot be pressed from there either.
    EXPECT_EQ(doDefaultAction(control(names::Image2_Load)), E_FAIL);

    // The enclosure picture follows the drives: the second one pulled (an alert is
    // raised, so it is read out at once), then back and rebuilt from the first.
    HWND bays = control(names::Image0_Bays);
    sim::StatusOptions s = gui::scenarios::raidRebuild();  // what the scenario plays
    s.setDriveState(1, sim::kDriveAbsent).setActivity(0, 0);
    const auto play = [&] {
        runner_->platform().setStatus(1, sim::makeStatusRecord(s));
        ASSERT_TRUE(onEngine([](MainForm& f) { return f.RequestMask |= kRequestPoll; }).has_value());
    };
    play();
    EXPECT_TRUE(waitFor([&] { return readControl(bays).name == "Enclosure. Drive 1: present. Drive 2: removed."; }))
        << readControl(bays).name;
    EXPECT_TRUE(waitFor([&] { return raised(EVENT_SYSTEM_ALERT, bays) && raised(EVENT_OBJECT_NAMECHANGE, bays); }));
    s.setDriveState(1, sim::kDrivePresent).setActivity(0x02, 12);
    play();
    EXPECT_TRUE(waitFor([&] {
        return readControl(bays).description ==
               "Drive 1: present. Drive 2: present. Rebuilding drive 2 from drive 1, 12 %.";
    })) << readControl(bays).description;
    UnhookWinEvent(hook);
}

}  // namespace
}  // namespace raid::win::test
