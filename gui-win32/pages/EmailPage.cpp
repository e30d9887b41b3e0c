// The E-mail page: the mail server settings (Setup) and the two alert kinds'
// recipients and texts (HDD Fail, Device Remove), one sub-page each.
#include "app/ControlNames.h"
#include "gui-win32/pages/PageBuilder.h"
#include "gui-win32/Text.h"
#include "notify/NotificationSettings.h"

namespace raid::win {

namespace {

void buildSetupSubPage(PageBuilder& b, HWND page) {
    // Each field takes what its value may hold in the settings, so what is saved reads
    // back; the engine holds the same bounds for whatever else types into it.
    b.caption(page, L"E-Mail Host (SMTP)", box(8, 4, 200, 18));
    b.edit(page, names::Edit2, box(8, 22, 220, 24), kHostLimit, L"E-Mail Host");
    b.caption(page, L"Port", box(236, 4, 50, 18));
    b.edit(page, names::Edit1, box(236, 22, 46, 24), kPortLimit, L"Port");
    b.caption(page, L"( Default 25 )", box(288, 22, 86, 24), 11);

    b.caption(page, L"Local Information", box(8, 54, 134, 18), 13, true);
    b.rule(page, box(144, 63, 226, 1));
    b.caption(page, L"Name", box(8, 74, 160, 18));
    b.edit(page, names::Edit3, box(8, 92, 170, 24), kNameLimit, L"Name");
    b.caption(page, L"E-Mail Address", box(188, 74, 180, 18));
    b.edit(page, names::Edit4, box(188, 92, 182, 24), kAddressLimit, L"E-Mail Address");

    b.caption(page, L"Time Out", box(8, 126, 120, 18));
    b.caption(page, L"Connect E-mail Host", box(8, 146, 140, 20), 11);
    b.edit(page, names::Edit5, box(150, 144, 36, 24), kTimeoutLimit, L"Time Out");
    b.caption(page, L"(Sec)", box(192, 144, 40, 24));

    // The login name shows with the password: empty, the E-Mail Address up to its "@"
    // is the name, as it always was.
    HWND loginCaption = b.caption(page, L"Login Name", box(236, 126, 134, 18));
    HWND loginName = b.edit(page, names::Edit12, box(236, 144, 134, 24), kLoginNameLimit, L"Login Name");
    b.entry(loginName).follower = loginCaption;
    ShowWindow(loginName, SW_HIDE);
    ShowWindow(loginCaption, SW_HIDE);

    b.checkBox(page, names::CheckBox8, box(8, 184, 214, 24));
    // Refused rather than cut: a cut password is another password.
    ShowWindow(b.edit(page, names::Edit8, box(226, 184, 144, 24), kPasswordLimit,
                      L"SMTP Login Authentication password", true, ES_PASSWORD),
               SW_HIDE);

    b.caption(page, L"Security", box(8, 212, 60, 24));
    b.comboBox(page, names::ComboBox1, box(70, 212, 110, 24),
               {widen(kSecurityNames[0]), widen(kSecurityNames[1]), widen(kSecurityNames[2])});
    b.pushImage(page, names::Image3_TestMail, box(236, 211, 134, 26), L"Send Test Mail", false);
}

struct RecipientNames {
    const char* edit;
    const char* plus;
    const char* minus;
    const char* grid;
    const char* subject;
    const char* contents;
    const char* checkBox;
};

void buildRecipientSubPage(PageBuilder& b, HWND page, const RecipientNames& n, const std::wstring& autoAddLine) {
    b.caption(page, L"E-Mail Address", box(6, 2, 170, 18));
    b.edit(page, n.edit, box(6, 20, 126, 24), kAddressLimit, L"E-Mail Address");
    b.signImage(page, n.plus, box(136, 21, 22, 22), true);
    b.signImage(page, n.minus, box(160, 21, 22, 22), false);
    b.grid(page, n.grid, box(6, 50, 176, 164));

    b.caption(page, L"Subject", box(192, 2, 178, 18));
    b.edit(page, n.subject, box(192, 20, 180, 24), kSubjectLimit, L"Subject");
    b.caption(page, L"Contents", box(192, 48, 178, 18));
    b.memo(page, n.contents, box(192, 66, 180, 82));
    b.caption(page, L"Auto Add :", box(192, 150, 178, 16), 11, true);
    b.caption(page, autoAddLine, box(192, 166, 180, 15), 11);
    b.caption(page, L"system info. in front of E-Mail contents.", box(192, 181, 180, 30), 11, false,
              DT_LEFT | DT_WORDBREAK);
    b.checkBox(page, n.checkBox, box(6, 216, 366, 22));
}

}  // namespace

void buildEmailPage(PageBuilder& b, HWND page) {
    struct Tab {
        const char* name;
        const wchar_t* caption;
        int x, w;
    };
    const Tab tabs[3] = {{names::Image3_Setup, L"Setup", 6, 104},
                         {names::Image3_HDDFail, L"HDD Fail", 112, 104},
                         {names::Image3_DeviceRemove, L"Device Remove", 218, 124}};
    for (int i = 0; i < 3; ++i) b.tabImage(page, tabs[i].name, box(tabs[i].x, 8, tabs[i].w, 28), tabs[i].caption, i == 0);
    b.rule(page, box(4, 36, 377, 1));

    HWND book = b.book(page, names::Notebook2, box(4, 40, 377, 238), 3);
    const std::vector<HWND> sub = b.pages(book);
    buildSetupSubPage(b, sub[0]);
    buildRecipientSubPage(b, sub[1],
                          {names::Edit7, names::Image3_1P, names::Image3_1M, names::StringGrid1, names::Edit10,
                           names::Memo6, names::CheckBox2},
                          L"Hard Disk Fail info. and ");
    buildRecipientSubPage(b, sub[2],
                          {names::Edit6, names::Image3_2P, names::Image3_2M, names::StringGrid2, names::Edit11,
                           names::Memo4, names::CheckBox4},
                          L"Device Removed info. and ");

    b.pushImage(page, names::Image3_OK, box(96, 284, 90, 30), L"OK", true);
    b.pushImage(page, names::Image3_Ignore, box(198, 284, 90, 30), L"Ignore", false);
}

}  // namespace raid::win
