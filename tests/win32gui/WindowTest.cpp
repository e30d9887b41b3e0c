// The native window under Wine, on a virtual display: what it shows of the engine's
// picture and what the user's clicks, keys and edits do, on simulated enclosures.
#include <algorithm>
#include <cwctype>
#include <set>

#include "WinWindowRig.h"
#include "app/ControlNames.h"
#include "gui-win32/ControlIds.h"
#include "monitor/StatusBays.h"
#include "platform/Platform.h"

namespace raid::win::test {
namespace {

const std::string kCaption = "RAID GUI v0.23.7-3 - ";

class WinWindowTest : public WinWindowRig {
protected:
    // The text of the tool tip the window shows over a control.
    std::string tipOf(const std::string& name) {
        HWND tips = nullptr;
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND h, LPARAM lp) -> BOOL {
                wchar_t cls[64] = {};
                GetClassNameW(h, cls, 64);
                if (std::wstring(cls) != TOOLTIPS_CLASSW) return TRUE;
                *reinterpret_cast<HWND*>(lp) = h;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&tips));
        HWND h = control(name);
        wchar_t buffer[512] = {};
        TOOLINFOW ti{};
        ti.cbSize = TTTOOLINFOW_V2_SIZE;
        ti.hwnd = GetParent(h);
        ti.uId = reinterpret_cast<UINT_PTR>(h);
        ti.lpszText = buffer;
        if (!tips) return "<no tool tips>";
        SendMessageW(tips, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&ti));
        return narrow(buffer);
    }
};

// Posts a key press to `target` and pumps until the window's loop has handled it.
void pressKey(HWND target, WPARAM key) {
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 0xC0000001);
    pumpUntil([] { return false; }, 300);  // a key has no outcome of its own to wait for
}

TEST_F(WinWindowTest, DefaultEnclosureCaptionNavigationStatusBarKeysAndSessionEnd) {
    start("");
    ASSERT_TRUE(waitForDetection());
    ASSERT_TRUE(waitFor([this] { return caption() == kCaption + "SIM DUAL BAY RAID ENCLOSURE [E]"; })) << caption();
    // The status bar: five panels, each showing the engine's text for it.
    settle();
    for (int i = 0; i < 5; ++i) EXPECT_EQ(panel(i), engineText(names::panel(i))) << i;
    EXPECT_EQ(panel(1), "Detected OK");

    // Hold the start-up pass where it is (no poll can draw the Status page now): before
    // the first Status page, only the Upgrade page opens.
    ASSERT_TRUE(onEngine([](MainForm& f) {
                    f.scheduler().setTimerEnabled(f.Timer2, false);
                    f.RequestMask = 0;
                    f.dev.FirstPass = true;
                    return 0;
                }).has_value());
    settle();
    click(names::Image_Email);
    click(names::Image_About);
    EXPECT_EQ(currentPage(), 0);
    EXPECT_EQ(shownPage(names::Notebook1), 0);
    click(names::Image_FWUpg);
    EXPECT_EQ(currentPage(), 2);
    EXPECT_EQ(shownPage(names::Notebook1), 2);
    // The navigation image shows the picture the engine names for it.
    EXPECT_EQ(session_->mainWindow().entry(names::Image_FWUpg)->picture, "Image_FWUpg_Yellow");
    EXPECT_EQ(session_->mainWindow().entry(names::Image_Sts)->picture, "Image_Sts_White");
    ASSERT_TRUE(onEngine([](MainForm& f) { return f.dev.FirstPass = false; }).has_value());
    for (const auto& [image, page] : {std::pair{names::Image_About, 4}, {names::Image_Email, 3}, {names::Image_Sts, 0}}) {
        click(image);
        EXPECT_EQ(currentPage(), page) << image;
        EXPECT_EQ(shownPage(names::Notebook1), page) << image;
    }

    // Keyboard: Tab walks from one control to the next, Enter on an image button is a
    // click (the same path as the mouse), Space too.
    HWND about = control(names::Image_About);
    SetFocus(control(names::Image_Email));
    pressKey(GetFocus(), VK_TAB);
    EXPECT_EQ(GetFocus(), about);
    pressKey(about, VK_RETURN);
    ASSERT_TRUE(waitFor([this] { return currentPage() == 4 && shownPage(names::Notebook1) == 4; }));
    SetFocus(control(names::Image_Sts));
    pressKey(GetFocus(), VK_SPACE);
    ASSERT_TRUE(waitFor([this] { return currentPage() == 0; }));
    LONG_PTR style = GetWindowLongPtrW(control(names::CheckBox1), GWL_STYLE);
    EXPECT_TRUE(style & WS_TABSTOP);

    // A click on a label reaches the engine; the engine's own tick of a check box is
    // never sent back as the user's.
    const std::size_t before = actions().size();
    HWND mode = control(names::Label17);
    SendMessageW(mode, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    SendMessageW(mode, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    ASSERT_TRUE(onEngine([](MainForm& f) {
                    f.controls().setChecked(names::CheckBox1, false);
                    f.controls().setChecked(names::CheckBox1, true);
                    return 0;
                }).has_value());
    settle();
    click(names::CheckBox1);  // the user clears it
    settle();
    const std::vector<std::string> after = actions();
    EXPECT_EQ(std::vector<std::string>(after.begin() + static_cast<std::ptrdiff_t>(before), after.end()),
              (std::vector<std::string>{"click Label17", "tick CheckBox1=off"}));

    // A double click on the status bar asks for the system information.
    SendMessageW(control(names::StatusBar1), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(30, 5));
    ASSERT_TRUE(waitFor([this] {
        for (const std::string& b : boxes_.boxes())
            if (b.rfind("System Information: ", 0) == 0) return true;
        return false;
    }));

    // The title bar's close asks the engine, which ends the program (the quit handler);
    // the end of the desktop session is asked too, and answered yes.
    SendMessageW(session_->window(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(waitFor([this] { return quits_ >= 1; }));
    EXPECT_TRUE(IsWindow(session_->window())) << "the engine, not the close, ends the window";
    EXPECT_EQ(SendMessageW(session_->window(), WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF), TRUE);
}

TEST_F(WinWindowTest, StatusPageOfARebuildingRaid1AndOfAHybridEnclosure) {
    const struct {
        const char* file;
        const char* words;
        const char* mode;
        const char* centre;
    } plays[] = {{"status-rebuild.scenario", "raid present present rebuild 1 37", "Mirroring(RAID1)", "Rebuilding"},
                 {"status-hybrid.scenario", "hybrid present present flush", "CacheHDD", "-> flushing ->"}};
    for (const auto& play : plays) {
        SCOPED_TRACE(play.file);
        start(play.file);
        ASSERT_TRUE(waitForDetection());
        ASSERT_TRUE(waitFor([this] { return text(names::Label17) == engineText(names::Label17) && !text(names::Label17).empty(); }));
        ASSERT_TRUE(waitFor([&] {
            return baysWords(session_->mainWindow().entry(names::Image0_Bays)->bays) == play.words;
        })) << baysWords(session_->mainWindow().entry(names::Image0_Bays)->bays);
        settle();
        EXPECT_EQ(caption(), engineText(names::TForm1));
        EXPECT_EQ(caption().rfind(kCaption, 0), 0u) << caption();
        EXPECT_EQ(text(names::Label17), play.mode);
        EXPECT_NE(text(names::Label18).find(play.centre), std::string::npos) << text(names::Label18);
        // Every label of the page shows the engine's text, shown, hidden, greyed as it says.
        for (const char* name : {names::Label17, names::Label27, names::Label48, names::Label45, names::Label25,
                                 names::Label51, names::Label46, names::Label26, names::Label52, names::Label18,
                                 names::Label20, names::Label21, names::Label5, names::Label7}) {
            const auto state = onEngine([name](MainForm& f) { return f.controls().get(name); });
            ASSERT_TRUE(state.has_value());
            EXPECT_EQ(text(name), state->text) << name;
            EXPECT_EQ((GetWindowLongPtrW(control(name), GWL_STYLE) & WS_VISIBLE) != 0, state->visible) << name;
            EXPECT_EQ(IsWindowEnabled(control(name)) != FALSE, state->enabled) << name;
        }
        EXPECT_EQ(shown(names::Panel11), std::string(play.mode) == "Mirroring(RAID1)") << "fan panel";
        // The device check box's hint names the device (a tool tip on the control).
        const std::string hint = onEngine([](MainForm& f) { return f.controls().get(names::CheckBox1).hint; }).value_or("");
        EXPECT_FALSE(hint.empty());
        EXPECT_EQ(tipOf(names::CheckBox1), hint);

        // The enclosure picture is drawn again only when its view changes: the same view
        // sent again (the engine's whole-state resend) leaves it alone.
        const MainWindow::Entry* picture = session_->mainWindow().entry(names::Image0_Bays);
        UpdateWindow(session_->window());
        pumpUntil([] { return false; }, 200);
        const int paints = picture->paints;
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(onEngine([](MainForm& f) {
                            f.controls().broadcastAll();
                            return 0;
                        }).has_value());
            settle();
            UpdateWindow(session_->window());
        }
        EXPECT_EQ(picture->paints, paints);
        ASSERT_TRUE(onEngine([](MainForm& f) {
                        BaysView other = f.controls().get(names::Image0_Bays).bays;
                        other.percent = other.percent == 90 ? 91 : 90;
                        f.controls().setBays(names::Image0_Bays, other);
                        return 0;
                    }).has_value());
        settle();
        UpdateWindow(session_->window());
        EXPECT_EQ(picture->paints, paints + 1);

        // The pressed look of a push image: while it is held, its face is 2 px lower
        // (the first row of the face, down its middle, is 2 rows further down).
        HWND log = control(names::Image0_Log);
        ASSERT_TRUE(IsWindowVisible(log));
        RECT r;
        GetClientRect(log, &r);
        const auto faceTop = [log, &r] {
            RedrawWindow(log, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
            HDC dc = GetDC(log);
            const COLORREF back = GetPixel(dc, 0, 0);
            int row = 0;
            while (row < r.bottom && GetPixel(dc, r.right / 2, row) == back) ++row;
            ReleaseDC(log, dc);
            return row;
        };
        const int up = faceTop();
        SendMessageW(log, BM_SETSTATE, TRUE, 0);
        const int down = faceTop();
        SendMessageW(log, BM_SETSTATE, FALSE, 0);
        EXPECT_LT(up, r.bottom / 2);
        EXPECT_EQ(down, up + 2);
        EXPECT_EQ(faceTop(), up);
        stop();
    }
}

// Types into the E-mail page as the user does, adds a recipient with the + image and
// saves with OK, into the registry (this test's own Wine prefix).
TEST_F(WinWindowTest, EmailPageTypedSettingsAndRecipientsAreSavedByOkIntoTheRegistry) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QX_RAID_GUI");
    start("", 0, machineSettingsName());
    ASSERT_TRUE(waitForDetection());
    click(names::Image_Email);
    ASSERT_TRUE(waitFor([this] { return shownPage(names::Notebook1) == 3; }));
    ASSERT_TRUE(waitFor([this] { return text(names::Edit1) == "25"; }));
    EXPECT_FALSE(shown(names::Edit8));
    EXPECT_TRUE(GetWindowLongPtrW(control(names::Edit8), GWL_STYLE) & ES_PASSWORD);

    // A field takes what its value may hold, counted in bytes of UTF-8: what is typed
    // past it is taken back a whole character at a time.
    type(names::Edit5, "12");
    type(names::Edit5, "1\xC3\xA9");  // "1é": three bytes
    EXPECT_EQ(text(names::Edit5), "1");
    // A pasted line break never reaches the engine's field.
    type(names::Edit3, "Ops\r\nRSET");
    EXPECT_EQ(text(names::Edit3), "OpsRSET");
    type(names::Edit2, "mail.example.org");
    type(names::Edit1, "2525");
    type(names::Edit4, "ops@example.org");
    ASSERT_TRUE(waitFor([this] { return engineText(names::Edit3) == "OpsRSET" && engineText(names::Edit1) == "2525"; }));

    click(names::CheckBox8);  // login on: the password shows
    ASSERT_TRUE(waitFor([this] { return shown(names::Edit8) && shown(names::Edit12); }));
    type(names::Edit8, "secret");
    // A password that does not fit is refused whole: a cut one is another password.
    type(names::Edit8, "0123456789abcdefXYZ");
    EXPECT_EQ(text(names::Edit8), "secret");

    // The protection of the connection: the user moves to the next choice.
    HWND security = control(names::ComboBox1);
    EXPECT_EQ(SendMessageW(security, CB_GETCOUNT, 0, 0), 3);
    SetFocus(security);
    SendMessageW(security, WM_KEYDOWN, VK_DOWN, 0);
    ASSERT_TRUE(waitFor([this] { return engineText(names::ComboBox1) == "STARTTLS"; }));

    click(names::Image3_HDDFail);
    ASSERT_TRUE(waitFor([this] { return shownPage(names::Notebook2) == 1; }));
    HWND grid = control(names::StringGrid1);
    for (const char* address : {"first@example.org", "second@example.org"}) {
        type(names::Edit7, address);
        click(names::Image3_1P);
    }
    ASSERT_TRUE(waitFor([grid] { return SendMessageW(grid, LVM_GETITEMCOUNT, 0, 0) == 2; }));
    EXPECT_EQ(text(names::Edit7), "");
    // The user chooses the second row and removes it with the - image.
    LVITEMW state{};
    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(grid, LVM_SETITEMSTATE, 1, reinterpret_cast<LPARAM>(&state));
    settle();
    click(names::Image3_1M);
    ASSERT_TRUE(waitFor([grid] { return SendMessageW(grid, LVM_GETITEMCOUNT, 0, 0) == 1; }));
    wchar_t row[64] = {};
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = row;
    item.cchTextMax = 64;
    SendMessageW(grid, LVM_GETITEMTEXTW, 0, reinterpret_cast<LPARAM>(&item));
    EXPECT_EQ(narrow(row), "first@example.org");
    // The other sub-page's list shows the same recipients.
    EXPECT_EQ(SendMessageW(control(names::StringGrid2), LVM_GETITEMCOUNT, 0, 0), 1);

    click(names::Image3_OK);
    const auto saved = onEngine([](MainForm& f) { return f.settings(); });
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->smtpHost(), "mail.example.org");
    EXPECT_EQ(saved->smtpPort(), "2525");
    EXPECT_EQ(saved->senderAddress(), "ops@example.org");
    EXPECT_EQ(saved->password(), "secret");
    EXPECT_EQ(saved->recipients, std::vector<std::string>{"first@example.org"});
    EXPECT_EQ(saved->security, kSecurityStartTls);
    // And the registry holds it, as another start of the program reads it.
    const auto store = openSettings(machineSettingsName());
    ASSERT_TRUE(store && store->keyExists());
    const auto first = store->read(recipientValueName(0));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->text, "first@example.org");
    EXPECT_FALSE(store->read(recipientValueName(1)).has_value());
}

// Every visible control of every page (and E-mail sub-page) against every other one,
// at 100 % and at 150 %.
struct Placed {
    HWND hwnd;
    std::string what;
    RECT screen;
};

bool isContainer(HWND h) {
    wchar_t cls[64] = {};
    GetClassNameW(h, cls, 64);
    return std::wstring(cls) == L"RaidGuiContainer";
}

std::string describe(HWND h) {
    const std::string name = controlName(h);
    if (!name.empty()) return name;
    const int n = GetWindowTextLengthW(h);
    std::wstring t(static_cast<std::size_t>(n) + 1, L'\0');
    t.resize(static_cast<std::size_t>(GetWindowTextW(h, t.data(), n + 1)));
    return "caption \"" + narrow(t) + "\"";
}

// Problems of the layout as shown now: overlaps, controls outside their page or the
// client area, texts that do not fit their box.
std::vector<std::string> layoutProblems(HWND form) {
    std::vector<std::string> problems;
    std::vector<Placed> leaves;
    RECT client;
    GetClientRect(form, &client);
    MapWindowPoints(form, nullptr, reinterpret_cast<POINT*>(&client), 2);
    EnumChildWindows(
        form,
        [](HWND h, LPARAM lp) -> BOOL {
            if (IsWindowVisible(h) && !isContainer(h)) {
                RECT r;
                GetWindowRect(h, &r);
                reinterpret_cast<std::vector<Placed>*>(lp)->push_back({h, describe(h), r});
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&leaves));
    for (const Placed& p : leaves) {
        RECT parent;
        GetClientRect(GetParent(p.hwnd), &parent);
        MapWindowPoints(GetParent(p.hwnd), nullptr, reinterpret_cast<POINT*>(&parent), 2);
        RECT inside;
        for (const RECT& outer : {client, parent})
            if (!IntersectRect(&inside, &p.screen, &outer) || !EqualRect(&inside, &p.screen))
                problems.push_back(p.what + " sticks out of its page or the window");
        // The text of a label, caption or check box fits its box in the font it is drawn in.
        wchar_t cls[32] = {};
        GetClassNameW(p.hwnd, cls, 32);
        const LONG_PTR style = GetWindowLongPtrW(p.hwnd, GWL_STYLE);
        const bool isStatic = _wcsicmp(cls, L"Static") == 0;
        const bool isCheck = _wcsicmp(cls, L"Button") == 0 && (style & BS_TYPEMASK) == BS_AUTOCHECKBOX;
        if (isStatic || isCheck) {
            const int n = GetWindowTextLengthW(p.hwnd);
            std::wstring t(static_cast<std::size_t>(n) + 1, L'\0');
            t.resize(static_cast<std::size_t>(GetWindowTextW(p.hwnd, t.data(), n + 1)));
            while (!t.empty() && iswspace(t.back())) t.pop_back();
            RECT box;
            GetClientRect(p.hwnd, &box);
            const int room = isCheck ? box.right - GetSystemMetrics(SM_CXMENUCHECK) - 6 : box.right;
            HDC dc = GetDC(p.hwnd);
            HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(p.hwnd, WM_GETFONT, 0, 0)));
            RECT m{0, 0, room, 0};
            DrawTextW(dc, t.c_str(), -1, &m, DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
            SelectObject(dc, old);
            ReleaseDC(p.hwnd, dc);
            if (!t.empty() && (m.right > room || m.bottom > box.bottom))
                problems.push_back(p.what + " does not fit: " + std::to_string(m.right) + "x" +
                                   std::to_string(m.bottom) + " in " + std::to_string(room) + "x" +
                                   std::to_string(box.bottom));
        }
    }
    for (std::size_t i = 0; i < leaves.size(); ++i)
        for (std::size_t j = i + 1; j < leaves.size(); ++j) {
            RECT both;
            if (IntersectRect(&both, &leaves[i].screen, &leaves[j].screen))
                problems.push_back(leaves[i].what + " overlaps " + leaves[j].what);
        }
    return problems;
}

TEST_F(WinWindowTest, NoVisibleControlsOverlapOrLeaveTheirPageAt100150And200Percent) {
    start("");
    ASSERT_TRUE(waitForDetection());
    settle();
    for (double scale : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(scale);
        if (scale != 1.0) {
            // The window moves to a monitor at 144 or 192 DPI: the system says so and
            // suggests where the window goes; the window lays itself out again.
            const auto dpi = static_cast<WORD>(96 * scale);
            RECT suggested{4, 4, 1000, 800};
            SendMessageW(session_->window(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(dpi, dpi),
                         reinterpret_cast<LPARAM>(&suggested));
        }
        RECT client;
        GetClientRect(session_->window(), &client);
        EXPECT_EQ(client.right, static_cast<LONG>(620 * scale + 0.5));
        EXPECT_EQ(client.bottom, static_cast<LONG>(440 * scale + 0.5));
        const std::pair<const char*, const char*> views[] = {{names::Image_Sts, nullptr},
                                                             {names::Image_FWUpg, nullptr},
                                                             {names::Image_Email, names::Image3_Setup},
                                                             {names::Image_Email, names::Image3_HDDFail},
                                                             {names::Image_Email, names::Image3_DeviceRemove},
                                                             {names::Image_About, nullptr}};
        for (const auto& [page, sub] : views) {
            click(page);
            if (sub) click(sub);
            settle();
            // Login on, so that every field of the Setup sub-page is shown too.
            if (sub && std::string(sub) == names::Image3_Setup && !shown(names::Edit8)) {
                click(names::CheckBox8);
                ASSERT_TRUE(waitFor([this] { return shown(names::Edit8); }));
            }
            for (const std::string& p : layoutProblems(session_->window()))
                ADD_FAILURE() << (sub ? sub : page) << ": " << p;
            // A control on the tinted navigation column stands on the same tint.
            RedrawWindow(session_->window(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
            RECT box;
            GetWindowRect(control(names::CheckBox1), &box);
            HDC screen = GetDC(nullptr);
            EXPECT_EQ(GetPixel(screen, box.right - 2, box.top + 1), GetPixel(screen, box.right + 1, box.top + 1));
            ReleaseDC(nullptr, screen);
        }
        click(names::Image_Sts);
    }
}

// What the engine publishes reaches the window from the engine thread as it is; the
// window shows whatever arrives without failing, hanging or growing past its boxes.
TEST_F(WinWindowTest, HostileTextsViewsAndInputStayInTheirBoxes) {
    start("");
    ASSERT_TRUE(waitForDetection());
    std::string huge;
    for (int i = 0; i < 100000; ++i) huge += "\x01&\t\r\n\xF0\x9F\x98\x80 Mirroring ";
    ASSERT_TRUE(onEngine([&huge](MainForm& f) {
                    // No poll redraws the page over what is set here.
                    f.scheduler().setTimerEnabled(f.Timer2, false);
                    f.RequestMask = 0;
                    Controls& c = f.controls();
                    c.setText(names::Label17, huge);
                    c.setText(names::Label18, "\xFF\xFE broken UTF-8 \xC3");
                    c.setColor(names::Label27, "chartreuse");
                    c.setProgress(names::ProgressBar1, 4000000000u, 4200000000u);
                    c.setRows(names::StringGrid1, std::vector<std::string>(5000, huge.substr(0, 3000)));
                    c.setPage(names::Notebook1, 99);
                    c.setSlot(names::Image_About, 7);
                    c.setText(names::TForm1, huge.substr(0, 70000));
                    return 0;
                }).has_value());
    settle();
    EXPECT_EQ(shownPage(names::Notebook1), 0) << "no such page: the page stays";
    // Stored as sent (the label draws what fits of it), broken UTF-8 as U+FFFD.
    EXPECT_EQ(text(names::Label17).size(), huge.size());
    EXPECT_NE(text(names::Label18).find("\xEF\xBF\xBD broken UTF-8"), std::string::npos);
    // A bar past the int range is drawn to scale.
    HWND bar = control(names::ProgressBar1);
    const auto top = SendMessageW(bar, PBM_GETRANGE, FALSE, 0);
    const auto pos = SendMessageW(bar, PBM_GETPOS, 0, 0);
    EXPECT_GT(top, 0);
    EXPECT_NEAR(static_cast<double>(pos) / static_cast<double>(top), 4000.0 / 4200.0, 1e-6);
    EXPECT_EQ(SendMessageW(control(names::StringGrid1), LVM_GETITEMCOUNT, 0, 0), 5000);
    RECT about;
    GetWindowRect(control(names::Image_About), &about);
    MapWindowPoints(nullptr, session_->window(), reinterpret_cast<POINT*>(&about), 2);
    EXPECT_EQ(about.top, 280) << "no slot 7: the image stays where it is";
    // Nothing to count: an empty bar.
    ASSERT_TRUE(onEngine([](MainForm& f) {
                    f.controls().setProgress(names::ProgressBar1, 5, 0);
                    return 0;
                }).has_value());
    settle();
    EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), 0);
    // A page still draws and the window still answers.
    UpdateWindow(session_->window());
    click(names::Image_FWUpg);
    EXPECT_EQ(currentPage(), 2);

    // Typed or pasted past its size, a field keeps what fits, never half a character.
    type(names::Edit2, std::string(254, 'x') + "\xF0\x9F\x98\x80");
    EXPECT_EQ(text(names::Edit2), std::string(254, 'x'));
    type(names::Edit2, std::string(1 << 20, 'h'));
    EXPECT_EQ(text(names::Edit2).size(), 255u);
    ASSERT_TRUE(waitFor([this] { return engineText(names::Edit2).size() == 255u; }));
}

}  // namespace
}  // namespace raid::win::test
