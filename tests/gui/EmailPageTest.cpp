// The E-mail page in a real window on the real engine: what the user types, ticks and
// clicks reaches the settings, and the password field stays masked.
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>
#include <QToolTip>

#include "GuiRig.h"

namespace raid::gui::test {
namespace {

class EmailPageTest : public GuiRig {
protected:
    void click(const char* name) {
        QWidget* w = widget(name);
        ASSERT_NE(w, nullptr) << name;
        QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
    }
    void type(const char* name, const QString& text) {
        auto* edit = widget<QLineEdit>(name);
        ASSERT_NE(edit, nullptr) << name;
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    // Key by key, text outside ASCII too (QTest's key clicks take ASCII only).
    static void typeKeys(QLineEdit* edit, const QString& text) {
        edit->setFocus();
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(edit, &press);
        }
    }
    // The user pastes `text` over the whole field.
    static void paste(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        edit->insert(text);
    }
};

TEST_F(EmailPageTest, TypedSettingsAndRecipientsAreSavedByOk) {
    startWindow(1);
    ASSERT_TRUE(waitForDetection());
    ASSERT_TRUE(waitFor([this] { return onEngine([](MainForm& f) { return !f.dev.FirstPass; }).value_or(false); }));
    click(names::Image_Email);
    ASSERT_TRUE(waitFor([this] { return currentPage() == 3; }));
    // No settings yet: the defaults, login off, the password field hidden and masked.
    ASSERT_TRUE(waitFor([this] { return widget<QLineEdit>(names::Edit1)->text() == QLatin1String("25"); }));
    auto* password = widget<QLineEdit>(names::Edit8);
    auto* loginName = widget<QLineEdit>(names::Edit12);
    QLabel* loginCaption = nullptr;
    for (QLabel* l : loginName->parentWidget()->findChildren<QLabel*>())
        if (l->text() == QLatin1String("Login Name")) loginCaption = l;
    ASSERT_NE(loginCaption, nullptr);
    EXPECT_FALSE(password->isVisible());
    EXPECT_FALSE(loginName->isVisible());
    EXPECT_FALSE(loginCaption->isVisible());
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    // Every field takes no more than its value may hold, counted in bytes as the
    // settings count them, so what is saved reads back; what does not fit is cut
    // between characters (an emoji: four bytes, two UTF-16 units).
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    for (const auto& [name, most] : {std::pair{names::Edit1, 5},
                                     {names::Edit2, 255},
                                     {names::Edit3, 255},
                                     {names::Edit4, 254},
                                     {names::Edit5, 2},
                                     {names::Edit6, 254},
                                     {names::Edit7, 254},
                                     {names::Edit10, 1000},
                                     {names::Edit11, 1000},
                                     {names::Edit12, 254}}) {
        auto* edit = widget<QLineEdit>(name);
        const QString was = edit->text();
        paste(edit, QString(most - 1, QLatin1Char('x')) + emoji);
        EXPECT_EQ(edit->text(), QString(most - 1, QLatin1Char('x'))) << name;
        paste(edit, QString(most - 1, QLatin1Char('x')) + QString::fromUtf8("\xC3\xA9"));
        EXPECT_EQ(edit->text(), QString(most - 1, QLatin1Char('x'))) << name;
        paste(edit, was);
    }
    // A pasted line break never reaches the engine's field.
    type(names::Edit3, QStringLiteral("Ops"));
    widget<QLineEdit>(names::Edit3)->insert(QStringLiteral("\nRSET"));
    ASSERT_TRUE(waitFor([this] {
        return onEngine([](MainForm& f) { return f.controls().text(names::Edit3); }).value_or("") == "OpsRSET";
    }));

    type(names::Edit2, QStringLiteral("mail.example.org"));
    type(names::Edit4, QStringLiteral("ops@example.org"));
    auto* login = widget<QCheckBox>(names::CheckBox8);
    QTest::mouseClick(login, Qt::LeftButton, {}, QPoint(8, login->height() / 2));  // on the box itself
    ASSERT_TRUE(waitFor([password] { return password->isVisible(); }));
    // The login name shows with the password.
    EXPECT_TRUE(loginName->isVisible());
    EXPECT_TRUE(loginCaption->isVisible());
    type(names::Edit8, QStringLiteral("0123456789abcdefXYZ"));  // no key past the 15th byte
    EXPECT_EQ(password->text(), QStringLiteral("0123456789abcde"));
    // Bytes, not characters: of "парольпароль" (12 characters, 24 bytes) the keys that
    // fit whole are taken, and the tip at the field says why the others are not.
    paste(password, QString());
    typeKeys(password, QStringLiteral("парольпароль"));
    EXPECT_EQ(password->text(), QStringLiteral("парольп"));
    EXPECT_NE(QToolTip::text().indexOf(QLatin1String("takes at most 15 bytes (UTF-8)")), -1)
        << QToolTip::text().toStdString();
    EXPECT_EQ(QToolTip::text().indexOf(QStringLiteral("парол")), -1);
    // Pasted, a password that does not fit is refused whole: a cut one is another password.
    paste(password, QStringLiteral("парольпароль"));
    EXPECT_EQ(password->text(), QStringLiteral("парольп"));
    paste(password, QStringLiteral("пароль1"));  // 13 bytes
    EXPECT_EQ(password->text(), QStringLiteral("пароль1"));
    type(names::Edit12, QStringLiteral("ops@example.org"));
    // The protection of the connection: clear text until the user picks another.
    auto* security = widget<QComboBox>(names::ComboBox1);
    EXPECT_EQ(security->currentText(), QStringLiteral("None"));
    ASSERT_EQ(security->count(), 3);
    security->setFocus();
    QTest::keyClick(security, Qt::Key_Down);  // the user moves to the next choice: activated()
    EXPECT_EQ(security->currentText(), QStringLiteral("STARTTLS"));

    click(names::Image3_HDDFail);
    ASSERT_TRUE(waitFor([this] { return onEngine([](MainForm& f) { return f.EmailSubPage; }).value_or(-1) == 1; }));
    type(names::Edit7, QStringLiteral("first@example.org"));
    click(names::Image3_1P);
    auto* grid = widget<QTableWidget>(names::StringGrid1);
    ASSERT_TRUE(waitFor([grid] { return grid->item(0, 0)->text() == QLatin1String("first@example.org"); }));
    EXPECT_EQ(widget<QLineEdit>(names::Edit7)->text(), QString());
    // The other sub-page's grid shows the same list.
    EXPECT_EQ(widget<QTableWidget>(names::StringGrid2)->item(0, 0)->text(), QStringLiteral("first@example.org"));

    click(names::Image3_OK);
    ASSERT_TRUE(waitFor([this] {
        return onEngine([](MainForm& f) { return f.settings().loaded; }).value_or(false);
    }));
    const auto saved = onEngine([](MainForm& f) { return f.settings(); });
    ASSERT_TRUE(saved.has_value());
    EXPECT_EQ(saved->smtpHost(), "mail.example.org");
    EXPECT_EQ(saved->senderAddress(), "ops@example.org");
    EXPECT_EQ(saved->password(), "пароль1");
    EXPECT_EQ(saved->loginName, "ops@example.org");
    EXPECT_EQ(saved->authState, 1);
    EXPECT_EQ(saved->smtpPort(), "25");
    EXPECT_EQ(saved->recipients, std::vector<std::string>{"first@example.org"});
    EXPECT_EQ(saved->security, kSecurityStartTls);
}

}  // namespace
}  // namespace raid::gui::test
