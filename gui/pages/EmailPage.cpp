#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStackedWidget>
#include <QToolTip>
#include <QValidator>

#include "gui/Artwork.h"
#include "gui/EngineActions.h"
#include "gui/ImageControl.h"
#include "gui/pages/PageBuilder.h"
#include "gui/pages/Pages.h"
#include "notify/NotificationSettings.h"

namespace raid::gui {

namespace {

// What a field takes, counted as the settings count it: bytes of UTF-8. (A line edit's
// own maximum counts UTF-16 units, lets three times the bytes through and cuts a
// character outside the BMP in two.)
class ByteLimit final : public QValidator {
public:
    // `refuse`: text that does not fit is refused whole. Otherwise what is typed or
    // pasted is cut where it stops fitting, a whole character at a time.
    ByteLimit(QLineEdit* edit, std::size_t limit, bool refuse)
        : QValidator(edit), limit_(static_cast<qsizetype>(limit)), refuse_(refuse), last_(edit->text()) {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString& t) { last_ = t; });
    }

    State validate(QString& text, int& pos) const override {
        qsizetype excess = text.toUtf8().size() - limit_;
        if (excess <= 0) return Acceptable;
        if (refuse_) return Invalid;
        // Take back what was just put before the cursor, from its end.
        int start = pos;
        while (start > 0 && excess > 0) {
            const int n = start >= 2 && text[start - 1].isLowSurrogate() && text[start - 2].isHighSurrogate() ? 2 : 1;
            start -= n;
            excess -= QStringView(text).mid(start, n).toUtf8().size();
        }
        if (excess > 0) return Invalid;
        QString cut = text;
        cut.remove(start, pos - start);
        // Nothing of it fits: a refusal, not a change that changes nothing.
        if (cut == last_) return Invalid;
        text = cut;
        pos = start;
        return Acceptable;
    }

private:
    qsizetype limit_;
    bool refuse_;
    QString last_;  // the field's text before this edit
};

// `edit` takes at most `limit` bytes; input that does not fit is cut (refused whole
// with `refuse`), and a tip at the field says why.
void takeBytes(QLineEdit* edit, std::size_t limit, const QString& label, bool refuse = false) {
    edit->setValidator(new ByteLimit(edit, limit, refuse));
    const QString why = label + QStringLiteral(" takes at most %1 bytes (UTF-8)").arg(limit);
    if (refuse) edit->setToolTip(why);
    QObject::connect(edit, &QLineEdit::inputRejected, edit, [edit, why] {
        QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), why, edit);
    });
}

// Shows and hides a caption with its field (the engine shows and hides the field).
class CaptionFollows final : public QObject {
public:
    CaptionFollows(QWidget* field, QWidget* caption) : QObject(field), caption_(caption) {
        caption->setHidden(field->isHidden());
        field->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ShowToParent || event->type() == QEvent::HideToParent)
            caption_->setHidden(static_cast<QWidget*>(watched)->isHidden());
        return false;
    }

private:
    QWidget* caption_;
};

void buildSetupSubPage(PageBuilder& b, QWidget* page) {
    b.caption(page, QStringLiteral("E-Mail Host (SMTP)"), QRect(8, 4, 200, 18));
    // Each field takes what its value may hold in the settings, so what is saved reads
    // back; the engine holds the same bounds for whatever else types into it.
    takeBytes(b.edit(page, qname(names::Edit2), QRect(8, 22, 220, 24)), kHostLimit, QStringLiteral("E-Mail Host"));
    b.caption(page, QStringLiteral("Port"), QRect(236, 4, 50, 18));
    takeBytes(b.edit(page, qname(names::Edit1), QRect(236, 22, 46, 24)), kPortLimit, QStringLiteral("Port"));
    b.caption(page, QStringLiteral("( Default 25 )"), QRect(288, 22, 86, 24), 11);

    b.caption(page, QStringLiteral("Local Information"), QRect(8, 54, 200, 18), 13, true);
    b.rule(page, QRect(144, 63, 226, 1));
    b.caption(page, QStringLiteral("Name"), QRect(8, 74, 160, 18));
    takeBytes(b.edit(page, qname(names::Edit3), QRect(8, 92, 170, 24)), kNameLimit, QStringLiteral("Name"));
    b.caption(page, QStringLiteral("E-Mail Address"), QRect(188, 74, 180, 18));
    takeBytes(b.edit(page, qname(names::Edit4), QRect(188, 92, 182, 24)), kAddressLimit,
              QStringLiteral("E-Mail Address"));

    b.caption(page, QStringLiteral("Time Out"), QRect(8, 126, 120, 18));
    b.caption(page, QStringLiteral("Connect E-mail Host"), QRect(8, 146, 140, 20), 11);
    takeBytes(b.edit(page, qname(names::Edit5), QRect(150, 144, 36, 24)), kTimeoutLimit, QStringLiteral("Time Out"));
    b.caption(page, QStringLiteral("(Sec)"), QRect(192, 144, 40, 24));

    // The login name, shown with the password: empty, the E-Mail Address up to its "@"
    // is the name, as it always was.
    QLabel* loginCaption = b.caption(page, QStringLiteral("Login Name"), QRect(236, 126, 134, 18));
    QLineEdit* loginName = b.edit(page, qname(names::Edit12), QRect(236, 144, 134, 24));
    takeBytes(loginName, kLoginNameLimit, QStringLiteral("Login Name"));
    loginName->setPlaceholderText(QStringLiteral("address before @"));
    loginName->setToolTip(QStringLiteral("The name to log in with; empty: the E-Mail Address up to its \"@\""));
    loginName->hide();
    new CaptionFollows(loginName, loginCaption);

    b.checkBox(page, qname(names::CheckBox8), QRect(8, 184, 214, 24));
    QLineEdit* password = b.edit(page, qname(names::Edit8), QRect(226, 184, 144, 24));
    password->setEchoMode(QLineEdit::Password);
    // Refused rather than cut: a cut password is another password.
    takeBytes(password, kPasswordLimit, QStringLiteral("SMTP Login Authentication password"), true);
    password->hide();

    b.caption(page, QStringLiteral("Security"), QRect(8, 212, 60, 24));
    b.comboBox(page, qname(names::ComboBox1), QRect(70, 212, 110, 24),
               {QString::fromLatin1(kSecurityNames[0]), QString::fromLatin1(kSecurityNames[1]),
                QString::fromLatin1(kSecurityNames[2])});
    b.image(page, qname(names::Image3_TestMail),
            Artwork::pushButton(QStringLiteral("Send Test Mail"), QSize(134, 26), false), {236, 211});
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

void buildRecipientSubPage(PageBuilder& b, QWidget* page, const RecipientNames& n, const QString& autoAddLine) {
    b.caption(page, QStringLiteral("E-Mail Address"), QRect(6, 2, 170, 18));
    takeBytes(b.edit(page, qname(n.edit), QRect(6, 20, 126, 24)), kAddressLimit, QStringLiteral("E-Mail Address"));
    b.image(page, qname(n.plus), Artwork::signButton(true, QSize(22, 22)), {136, 21});
    b.image(page, qname(n.minus), Artwork::signButton(false, QSize(22, 22)), {160, 21});
    b.grid(page, qname(n.grid), QRect(6, 50, 176, 164));

    b.caption(page, QStringLiteral("Subject"), QRect(192, 2, 178, 18));
    takeBytes(b.edit(page, qname(n.subject), QRect(192, 20, 180, 24)), kSubjectLimit, QStringLiteral("Subject"));
    b.caption(page, QStringLiteral("Contents"), QRect(192, 48, 178, 18));
    b.memo(page, qname(n.contents), QRect(192, 66, 180, 82));
    b.caption(page, QStringLiteral("Auto Add :"), QRect(192, 150, 178, 16), 11, true);
    b.caption(page, autoAddLine, QRect(192, 166, 180, 15), 11);
    QLabel* tail = b.caption(page, QStringLiteral("system info. in front of E-Mail contents."),
                             QRect(192, 181, 180, 30), 11, false, Qt::AlignLeft | Qt::AlignTop);
    tail->setWordWrap(true);
    b.checkBox(page, qname(n.checkBox), QRect(6, 216, 366, 22));
}

}  // namespace

void buildEmailPage(PageBuilder& b, QWidget* page) {
    struct Tab {
        const char* name;
        const char* caption;
        int x, w;
    };
    const Tab tabs[3] = {{names::Image3_Setup, "Setup", 6, 104},
                         {names::Image3_HDDFail, "HDD Fail", 112, 104},
                         {names::Image3_DeviceRemove, "Device Remove", 218, 124}};
    for (int i = 0; i < 3; ++i) {
        const QString name = QString::fromLatin1(tabs[i].name);
        const QSize size(tabs[i].w, 28);
        const QString text = QString::fromLatin1(tabs[i].caption);
        b.sources(page, name, Artwork::tab(text, size, true), Artwork::tab(text, size, false), {tabs[i].x, 8});
        b.image(page, name, Artwork::tab(text, size, i == 0), {tabs[i].x, 8});
    }
    b.rule(page, QRect(4, 36, 377, 1));

    auto* book = new QStackedWidget(page);
    book->setObjectName(qname(names::Notebook2));
    book->setGeometry(4, 40, 377, 238);
    const char* captions[3] = {"Setup", "HDD_Fail", "DeviceRemove"};
    for (const char* c : captions) {
        auto* sub = new QWidget(book);
        sub->setProperty("pageCaption", QString::fromLatin1(c));
        book->addWidget(sub);
    }
    b.add(book);
    buildSetupSubPage(b, book->widget(0));
    buildRecipientSubPage(b, book->widget(1),
                          {names::Edit7, names::Image3_1P, names::Image3_1M, names::StringGrid1, names::Edit10,
                           names::Memo6, names::CheckBox2},
                          QStringLiteral("Hard Disk Fail info. and "));
    buildRecipientSubPage(b, book->widget(2),
                          {names::Edit6, names::Image3_2P, names::Image3_2M, names::StringGrid2, names::Edit11,
                           names::Memo4, names::CheckBox4},
                          QStringLiteral("Device Removed info. and "));

    b.image(page, qname(names::Image3_OK), Artwork::pushButton(QStringLiteral("OK"), QSize(90, 30), true),
            {96, 284});
    b.image(page, qname(names::Image3_Ignore),
            Artwork::pushButton(QStringLiteral("Ignore"), QSize(90, 30), false), {198, 284});
}

}  // namespace raid::gui
