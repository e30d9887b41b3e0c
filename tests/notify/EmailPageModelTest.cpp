// The E-mail page's rules against a page of plain fields: what opening fills in, the
// working list's add and remove rules, the dirty bits, discard. The model holds the
// values; the page only shows them (it is never read back).
#include <gtest/gtest.h>

#include <map>

#include "monitor/MemoryFileStore.h"
#include "notify/EmailPageModel.h"

namespace raid {
namespace {

struct Page final : EmailPageView {
    std::map<EmailField, std::string> texts;
    std::vector<std::string> rows;
    std::map<EmailBox, bool> boxes;
    bool passwordVisible = true;
    std::vector<std::string> messages;
    void setText(EmailField f, const std::string& t) override { texts[f] = t; }
    void setChecked(EmailBox b, bool on) override { boxes[b] = on; }
    void setRows(const std::vector<std::string>& r) override { rows = r; }
    void setLoginFieldsVisible(bool v) override { passwordVisible = v; }
    void message(const std::string& t, const std::string& c) override { messages.push_back(c + ": " + t); }
};

struct EmailPageTest : ::testing::Test {
    Page page;
    EmailPageModel model{page};
    NotificationSettings s;
    // The user's typing: the field shows what the model takes of it.
    void type(EmailField f, const std::string& t) { page.texts[f] = model.typed(f, model.text(f), t); }
};

TEST_F(EmailPageTest, WithoutSavedSettingsThePageShowsTheDefaults) {
    model.open(s);
    EXPECT_EQ(page.texts[EmailField::Port], "25");
    EXPECT_EQ(page.texts[EmailField::Timeout], "0");
    EXPECT_FALSE(page.boxes[EmailBox::Login]);
    EXPECT_FALSE(page.passwordVisible);
    model.showSubPage();
    model.clearDirty();
    EXPECT_EQ(model.dirty(), 0);
}

TEST_F(EmailPageTest, OpeningFillsEveryFieldFromTheSettings) {
    s.SettingsKeyExists = true;
    s.connection = {"587", "mail.example", "Ann", "ann@example.org", "15", "pw"};
    s.authState = 1;
    s.loginName = "ann@example.org";
    s.suppressMask = 2;
    s.recipients = {"a@x", "b@x"};
    s.subjects[0] = {"first line", "second line"};
    s.contents[1] = {"body 1", "body 2"};
    model.open(s);
    EXPECT_EQ(page.texts[EmailField::Host], "mail.example");
    EXPECT_EQ(page.texts[EmailField::Password], "pw");
    EXPECT_EQ(page.texts[EmailField::LoginName], "ann@example.org");
    EXPECT_TRUE(page.boxes[EmailBox::Login]);
    EXPECT_TRUE(page.passwordVisible);
    EXPECT_FALSE(page.boxes[EmailBox::NoMail1]);
    EXPECT_TRUE(page.boxes[EmailBox::NoMail2]);
    EXPECT_EQ(page.texts[EmailField::Subject1], "first line");
    EXPECT_EQ(page.texts[EmailField::Contents2], "body 1\nbody 2");
    EXPECT_EQ(page.rows, (std::vector<std::string>{"a@x", "b@x"}));
    EXPECT_EQ(model.working(), s.recipients);
}

TEST_F(EmailPageTest, AddingAndRemovingFollowTheListRules) {
    // On the Setup page the buttons do nothing.
    type(EmailField::NewAddress1, "a@x");
    model.addAddress(kSetupPage);
    EXPECT_TRUE(model.working().empty());
    // "@" alone is an address; one without "@" is refused with a box, both clear the field.
    type(EmailField::NewAddress1, "@");
    model.addAddress(kHddFailPage);
    EXPECT_EQ(model.working(), std::vector<std::string>{"@"});
    EXPECT_EQ(page.texts[EmailField::NewAddress1], "");
    type(EmailField::NewAddress2, "no-at-sign");
    model.addAddress(kDeviceRemovePage);
    ASSERT_EQ(page.messages.size(), 1u);
    EXPECT_EQ(page.messages[0], "E-Mail Message: E-Mail Address formula error!");
    EXPECT_EQ(page.texts[EmailField::NewAddress2], "");
    // What the mail dialogue could not carry is refused as it is typed; an address
    // outside ASCII is taken (the server's SMTPUTF8 decides when sending).
    for (const char* bad : {"a b@x", "<a@x>", "a@x\xC3", "a\xE2\x80\xA8@x"}) {
        type(EmailField::NewAddress2, bad);
        model.addAddress(kDeviceRemovePage);
    }
    EXPECT_EQ(page.messages.size(), 5u);
    type(EmailField::NewAddress2, "j\xC3\xB6rg@x");
    model.addAddress(kDeviceRemovePage);
    EXPECT_EQ(model.working().back(), "j\xC3\xB6rg@x");
    model.selectRow(1, static_cast<int>(model.working().size()) - 1);
    model.removeAddress(kDeviceRemovePage);
    page.messages.resize(1);
    // Ten at most; the eleventh is ignored without a word and stays in the field.
    for (int i = 1; i < 10; ++i) {
        type(EmailField::NewAddress2, std::to_string(i) + "@x");
        model.addAddress(kDeviceRemovePage);
    }
    type(EmailField::NewAddress2, "eleven@x");
    model.addAddress(kDeviceRemovePage);
    EXPECT_EQ(model.working().size(), 10u);
    EXPECT_EQ(page.texts[EmailField::NewAddress2], "eleven@x");
    EXPECT_EQ(page.messages.size(), 1u);
    // Selecting a row copies it; removing takes the grid's row.
    model.selectRow(1, 3);
    EXPECT_EQ(page.texts[EmailField::NewAddress2], "3@x");
    model.removeAddress(kDeviceRemovePage);
    EXPECT_EQ(model.working().size(), 9u);
    EXPECT_EQ(model.working()[3], "4@x");
    ASSERT_GE(page.rows.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(page.rows.begin(), page.rows.begin() + 3),
              (std::vector<std::string>{"@", "1@x", "2@x"}));
    // A row past the list's end changes nothing at all.
    model.selectRow(0, 9);
    type(EmailField::NewAddress1, "kept");
    model.removeAddress(kHddFailPage);
    EXPECT_EQ(model.working().size(), 9u);
    EXPECT_EQ(page.texts[EmailField::NewAddress1], "kept");
    model.selectRow(0, 99);  // outside the grid: ignored
    EXPECT_EQ(model.row(0), 9);
}

TEST_F(EmailPageTest, DirtyBitsSurviveASubPageSwitchAndDiscardKeepsTheNoMailBoxes) {
    s.SettingsKeyExists = true;
    s.connection = {"25", "h", "n", "a@b", "0", ""};
    model.open(s);
    model.showSubPage();
    model.clearDirty();
    type(EmailField::Port, "2525");
    type(EmailField::Password, "x");
    model.showSubPage();  // the user goes to add a recipient
    EXPECT_EQ(model.dirty(), kDirtyPort | kDirtyPassword);

    page.boxes[EmailBox::NoMail1] = true;  // the user's click
    model.boxClicked(EmailBox::NoMail1, true);
    model.discard(s);
    EXPECT_EQ(page.texts[EmailField::Port], "25");
    EXPECT_TRUE(page.boxes[EmailBox::NoMail1]);
    EXPECT_EQ(model.dirty(), 0);
}

TEST_F(EmailPageTest, SaveFillsTheDefaultsAndReportsAFailedWrite) {
    MemorySettings key;
    testing::MemoryFileStore files;
    SettingsStore store(key, files, {});
    store.startUp(s, "/c/");
    model.open(s);
    type(EmailField::Port, "");
    type(EmailField::Timeout, "");
    // More than the field takes, given past its entry (another front end's values):
    // refused, nothing saved.
    SettingsEdits bad = model.valuesToSave();
    bad.fields[kPassword] = std::string(20, 'p');
    EXPECT_EQ(store.save(s, bad, model.shown()),
              "SMTP Login Authentication password takes at most 15 bytes (UTF-8); nothing was saved");
    EXPECT_EQ(key.writes, 0);
    // Typed, a password is counted in bytes, as the record holds it, and one that does
    // not fit is refused whole: "парольпароль" is 12 characters, 24 bytes. A cut one
    // would be another password.
    EXPECT_EQ(model.typed(EmailField::Password, "", "парольпароль"), "");
    ASSERT_EQ(page.messages.size(), 1u);
    EXPECT_EQ(page.messages[0],
              "E-Mail Message: SMTP Login Authentication password takes at most 15 bytes (UTF-8), not 24; it was "
              "not changed");
    EXPECT_EQ(model.dirty() & kDirtyPassword, 0);
    type(EmailField::Password, model.typed(EmailField::Password, "", "пароль1"));  // 13 bytes
    // The login name of its own is a field like the others.
    type(EmailField::LoginName, model.typed(EmailField::LoginName, "", "ops\r\n@example.org"));
    EXPECT_EQ(page.texts[EmailField::LoginName], "ops@example.org");
    ASSERT_EQ(model.save(s, store), "");
    EXPECT_EQ(page.texts[EmailField::Port], "25");
    EXPECT_EQ(page.texts[EmailField::Timeout], "0");
    EXPECT_EQ(model.dirty() & (kDirtyPort | kDirtyTimeout | kDirtyPassword | kDirtyLoginName),
              kDirtyPort | kDirtyTimeout | kDirtyPassword | kDirtyLoginName);
    store.load(s);
    EXPECT_EQ(s.password(), "пароль1");
    EXPECT_EQ(s.loginName, "ops@example.org");
    // Entry leaves out control characters and never cuts a character in two.
    EXPECT_EQ(enteredText(EmailField::Host, "mail\r\nRSET"), "mailRSET");
    EXPECT_EQ(enteredText(EmailField::Contents1, "a\r\nb\tc\x1b"), "a\nb\tc");
    EXPECT_EQ(enteredText(EmailField::Name, std::string(254, 'n') + "\xC3\xA9"), std::string(254, 'n'));

    key.failOn = "SMTP";
    type(EmailField::Host, "mail.example");
    EXPECT_EQ(model.save(s, store), "Access is denied.");
    ASSERT_EQ(page.messages.size(), 2u);
    EXPECT_EQ(page.messages[1], "E-Mail Message: Access is denied.");
}

}  // namespace
}  // namespace raid
