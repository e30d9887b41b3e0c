#include "gui/MainWindow.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColor>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QShortcut>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTextDocument>

#include "app/AccessibleText.h"
#include "gui/Accessible.h"
#include "gui/Artwork.h"
#include "gui/ImageControl.h"
#include "gui/pages/BaysPicture.h"
#include "gui/pages/PageBuilder.h"
#include "gui/pages/Pages.h"

namespace raid::gui {

namespace {

// Where the navigation slots are, top to bottom.
constexpr int kNavX = 16;
constexpr int kNavSlotY[5] = {112, 168, 224, 280, 336};
const QRect kNotebookRect(216, 74, 385, 321);
constexpr int kStatusBarHeight = 19;
constexpr int kPanelWidths[5] = {120, 80, 80, 100, 250};

// The engine's colour names; anything else a colour name Qt knows, or default.
bool namedColor(const std::string& name, QColor& out) {
    if (name == "red") out = QColor(0xFF, 0x00, 0x00);
    else if (name == "blue") out = QColor(0x00, 0x00, 0xFF);
    else if (name == "navy") out = QColor(0x00, 0x00, 0x80);
    else if (name == "grey" || name == "gray") out = QColor(0x80, 0x80, 0x80);
    else out = QColor::fromString(QString::fromStdString(name));
    return out.isValid();
}

}  // namespace

TForm1::TForm1(ActionPoster post, QWidget* parent) : QWidget(parent), post_(std::move(post)) {
    installAccessibility();
    setObjectName(qname(names::TForm1));
    // Single border, system menu and minimize only: the layout is drawn for exactly
    // this client size.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(Artwork::font(13));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, inkColor());
    // The window paints its own light card, so its fields, lists and drop-down follow
    // that card rather than a dark or high-contrast desktop palette: a dark field with
    // dark hint text on the white card would be the one unreadable thing on it. The
    // windows that do not paint their own background (event log, boxes) keep the
    // desktop's colours.
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Base, Qt::white);
        pal.setColor(group, QPalette::AlternateBase, QColor(0xF2, 0xF5, 0xF9));
        pal.setColor(group, QPalette::Text, inkColor());
        pal.setColor(group, QPalette::Button, QColor(0xF2, 0xF5, 0xF9));
        pal.setColor(group, QPalette::ButtonText, inkColor());
        pal.setColor(group, QPalette::PlaceholderText, mutedColor());
    }
    pal.setColor(QPalette::Disabled, QPalette::Base, QColor(0xF2, 0xF5, 0xF9));
    pal.setColor(QPalette::Disabled, QPalette::Button, QColor(0xF2, 0xF5, 0xF9));
    for (auto role : {QPalette::Text, QPalette::ButtonText, QPalette::PlaceholderText})
        pal.setColor(QPalette::Disabled, role, QColor(0x8A, 0x94, 0xA0));
    setPalette(pal);
    setAutoFillBackground(true);
    setWindowIcon(Artwork::icon());

    add(this);
    PageBuilder b(*this);

    // Back to front: background, page book, navigation, form-level controls.
    const QPixmap raidBackground = Artwork::background(false);
    b.image(this, qname(names::Image_Background), raidBackground, {0, 0}, false);
    b.image(this, qname(names::Image_Background_RAID), raidBackground, {0, 0}, false)->hide();
    b.image(this, qname(names::Image_Background_OEM), Artwork::background(true), {0, 0}, false)->hide();

    auto* book = new QStackedWidget(this);
    book->setObjectName(qname(names::Notebook1));
    book->setGeometry(kNotebookRect);
    const char* captions[5] = {"Status", "Page1", "Upgrade", "E-mail", "About"};
    for (const char* c : captions) {
        auto* page = new QWidget(book);
        page->setProperty("pageCaption", QString::fromLatin1(c));
        book->addWidget(page);
    }
    add(book);
    buildStatusPage(b, book->widget(0));
    buildUpgradePage(b, book->widget(2));
    buildEmailPage(b, book->widget(3));
    buildAboutPage(b, book->widget(4));
    book->setCurrentIndex(0);

    buildNavigation(b);

    // Device check boxes sit above the navigation: they choose what both the Status
    // and the Upgrade page show.
    b.checkBox(this, qname(names::CheckBox1), QRect(22, 78, 80, 22))->hide();
    b.checkBox(this, qname(names::CheckBox3), QRect(106, 78, 80, 22))->hide();

    // The start-up message ("Drive detecting", "No Drive found! ") is the one thing to
    // read while there is no enclosure, so it sits in the middle of the page card.
    b.label(this, qname(names::StaticText1), QRect(216, 214, 385, 30), Qt::AlignCenter, 17, true);

    for (const char* name : {names::Memo1, names::Memo2, names::Memo7})
        b.memo(this, QString::fromLatin1(name), QRect(0, 0, 10, 10))->hide();

    buildStatusBar(b);
    setUpKeyboard();
    nameControls(this);
}

TForm1::~TForm1() = default;

void TForm1::postClick(const std::string& control) {
    post([control](EngineCommands& f) { f.Click(control); });
}

void TForm1::setUpKeyboard() {
    std::vector<QWidget*> order;
    auto take = [&order](QWidget* w) {
        if (w && (w->focusPolicy() & Qt::TabFocus) && std::find(order.begin(), order.end(), w) == order.end())
            order.push_back(w);
    };
    for (const char* n : names::navigationImages) take(control(qname(n)));
    for (const char* n : names::deviceCheckBox) take(control(qname(n)));
    // Each page's controls in the order they were laid out: top to bottom, as read.
    auto* book = control<QStackedWidget>(qname(names::Notebook1));
    for (int i = 0; book && i < book->count(); ++i)
        for (QWidget* w : book->widget(i)->findChildren<QWidget*>()) {
            // Qt's own parts of a control (a grid's viewport) follow their control.
            if (w->focusProxy() || !controls_.contains(w->objectName()) || control(w->objectName()) != w) continue;
            take(w);
        }
    for (std::size_t i = 1; i < order.size(); ++i) setTabOrder(order[i - 1], order[i]);

    // Alt+S, Alt+U, Alt+E, Alt+A: the page's picture clicked, so the engine decides as
    // for a click (a disabled or hidden picture does nothing).
    for (const char* n : names::navigationImages) {
        const access::Description d = access::describe(n);
        auto* img = control<ImageControl>(qname(n));
        if (!d.mnemonic || !img) continue;
        auto* key = new QShortcut(QKeySequence(Qt::ALT | Qt::Key(Qt::Key_A + (d.mnemonic - 'A'))), this);
        connect(key, &QShortcut::activated, img, [img] {
            img->click();
            if (img->isEnabled() && img->isVisible()) img->setFocus(Qt::ShortcutFocusReason);
        });
    }
}

void TForm1::setHintHidePause(int ms) {
    hintHidePause_ = ms;
    for (Entry& e : controls_) e.widget->setToolTipDuration(ms);
}

void TForm1::post(EngineAction action) {
    if (post_) post_(std::move(action));
}

TForm1::Entry& TForm1::add(QWidget* w, bool enginePlaced) {
    Entry& e = controls_[w->objectName()];
    e.widget = w;
    e.design = w->pos();
    e.enginePlaced = enginePlaced;
    e.palette = w->palette();
    return e;
}

QWidget* TForm1::control(const QString& name) const {
    auto it = controls_.find(name);
    return it == controls_.end() ? nullptr : it->widget;
}

void TForm1::buildNavigation(PageBuilder& b) {
    struct Nav {
        const char* name;
        const char* caption;
        NavGlyph glyph;
    };
    const Nav navs[5] = {{names::Image_Sts, "Status", NavGlyph::Status},
                         {names::Image_Page1, "Tools", NavGlyph::Tools},
                         {names::Image_FWUpg, "Upgrade", NavGlyph::Upgrade},
                         {names::Image_Email, "E-mail", NavGlyph::Email},
                         {names::Image_About, "About", NavGlyph::About}};
    // Until the engine has laid them out, the images stand where its layout will put
    // them (page 1 has no slot), so the first frame already looks right.
    int slot = 0;
    for (int p = 0; p < 5; ++p) {
        const QString name = QString::fromLatin1(navs[p].name);
        const QPixmap yellow = Artwork::navButton(QString::fromLatin1(navs[p].caption), navs[p].glyph, true);
        const QPixmap white = Artwork::navButton(QString::fromLatin1(navs[p].caption), navs[p].glyph, false);
        b.sources(this, name, yellow, white, {kNavX, kNavSlotY[p]}, true);
        const QPoint at(kNavX, kNavSlotY[p == 1 ? 1 : slot]);
        ImageControl* img = b.image(this, name, p == 0 ? yellow : white, at, true, true);
        img->setEnabled(false);
        if (p == 1)
            img->hide();
        else
            ++slot;
    }
}

void TForm1::buildStatusBar(PageBuilder& b) {
    auto* bar = new QFrame(this);
    bar->setObjectName(qname(names::StatusBar1));
    bar->setGeometry(0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, QColor(0xEC, 0xEF, 0xF3));
    bar->setPalette(pal);
    bar->setAutoFillBackground(true);
    bar->installEventFilter(this);
    add(bar);
    b.rule(bar, QRect(0, 0, kClientWidth, 1));
    int x = 0;
    for (int i = 0; i < 5; ++i) {
        // The last panel takes what is left of the bar (it holds the longest texts).
        const int w = i == 4 ? kClientWidth - x : kPanelWidths[i];
        auto* panel = new QLabel(bar);
        panel->setObjectName(QString::fromStdString(panelName(i)));
        panel->setTextFormat(Qt::PlainText);
        panel->setGeometry(x + 3, 1, w - 5, kStatusBarHeight - 1);
        panel->setFont(Artwork::font(11));
        panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        panel->installEventFilter(this);
        add(panel);
        if (i < 4) b.rule(bar, QRect(x + w - 1, 3, 1, kStatusBarHeight - 6));
        x += w;
    }
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && event->type() == QEvent::MouseButtonDblClick &&
        (w->objectName() == qname(names::StatusBar1) || w->parentWidget() == control(qname(names::StatusBar1)))) {
        post([](EngineCommands& f) { f.DoubleClick(names::StatusBar1); });
        return true;
    }
    // The fan and temperature panel opens the history chart: a click anywhere on it,
    // its captions included (they pass the press on to the panel).
    if (w && w->objectName() == qname(names::Panel11) &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (event->type() == QEvent::MouseButtonRelease &&
            w->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
            postClick(names::Panel11);
        return true;
    }
    if (w && event->type() == QEvent::MouseButtonRelease && qobject_cast<QLabel*>(w) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && w->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint()) &&
        w->parentWidget() != control(qname(names::StatusBar1))) {
        const std::string n = w->objectName().toStdString();
        post([n](EngineCommands& f) { f.Click(n); });
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* e) {
    if (closeAllowed_) {
        e->accept();
        return;
    }
    // The engine decides: it refuses while the firmware is written, and calls back
    // (onQuit) when the program is to end.
    e->ignore();
    post([](EngineCommands& f) { f.CloseRequest(); });
}

void TForm1::showEvent(QShowEvent* e) {
    if (!centred_) {
        centred_ = true;
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect avail = screen->availableGeometry();
            move(avail.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
        }
    }
    QWidget::showEvent(e);
}

void TForm1::forwardEditText(const QString& name, const QString& text) {
    auto it = controls_.find(name);
    if (it == controls_.end()) return;
    it->echoes.push_back(text);
    // Keep the queue bounded: an engine that never echoes must not grow it forever.
    while (it->echoes.size() > 64) it->echoes.pop_front();
    const std::string n = name.toStdString(), t = text.toStdString();
    post([n, t](EngineCommands& f) { f.EditChange(n, t); });
}

bool TForm1::isEcho(Entry& e, const QString& text) {
    for (std::size_t i = 0; i < e.echoes.size(); ++i) {
        if (e.echoes[i] == text) {
            e.echoes.erase(e.echoes.begin(), e.echoes.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return true;
        }
    }
    e.echoes.clear();
    return false;
}

void TForm1::applyChange(const ControlChange& change) {
    auto it = controls_.find(QString::fromStdString(change.control));
    if (it == controls_.end()) return;
    Entry& e = *it;
    const ControlState& s = change.state;
    const bool all = change.prop == Prop::All;
    applying_ = true;
    if (all || change.prop == Prop::Text) applyText(e, QString::fromStdString(s.text));
    if (e.widget != this) {
        // A picture source only lends its picture: the engine's whole-state resend
        // must not put it on screen over the image that shows it.
        if ((all || change.prop == Prop::Visible) && !e.pictureSource) e.widget->setVisible(s.visible);
        if (all || change.prop == Prop::Enabled) e.widget->setEnabled(s.enabled);
        if (all || change.prop == Prop::Checked) {
            if (auto* cb = qobject_cast<QCheckBox*>(e.widget)) cb->setChecked(s.checked);
        }
        if (all || change.prop == Prop::Color) applyColor(e, s.color);
        if (all || change.prop == Prop::Hint) applyHint(e, s.hint);
        if (all || change.prop == Prop::Slot) applyPosition(e, s);
        applyView(e, s, change.prop);
    }
    applying_ = false;
}

void TForm1::applyText(Entry& e, const QString& text) {
    QWidget* w = e.widget;
    if (w == this) {
        setWindowTitle(text);
    } else if (auto* img = qobject_cast<ImageControl*>(w)) {
        img->showPicture(text, [this](const QString& n) { return control<ImageControl>(n); });
    } else if (auto* le = qobject_cast<QLineEdit*>(w)) {
        if (isEcho(e, text)) return;
        if (le->text() != text) le->setText(text);
    } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
        if (isEcho(e, text)) return;
        if (m->toPlainText() != text) m->setPlainText(text);
    } else if (auto* box = qobject_cast<QComboBox*>(w)) {
        const int index = box->findText(text);
        if (index >= 0) box->setCurrentIndex(index);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(text);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(text);
    }
}

void TForm1::applyView(Entry& e, const ControlState& s, Prop prop) {
    QWidget* w = e.widget;
    const bool all = prop == Prop::All;
    if (auto* bays = qobject_cast<BaysPicture*>(w)) {
        if (all || prop == Prop::Bays) bays->setView(s.bays);
    } else if (auto* book = qobject_cast<QStackedWidget*>(w)) {
        // No such page (or none chosen yet): the page stays.
        if ((all || prop == Prop::Page) && s.page.index >= 0 && s.page.index < book->count())
            book->setCurrentIndex(s.page.index);
    } else if (auto* g = qobject_cast<QTableWidget*>(w)) {
        // The rows past the list are emptied; a list longer than the grid shows its head.
        if (all || prop == Prop::Rows)
            for (int row = 0; row < g->rowCount(); ++row)
                g->item(row, 0)->setText(static_cast<std::size_t>(row) < s.rows.size()
                                             ? QString::fromStdString(s.rows[static_cast<std::size_t>(row)])
                                             : QString());
    } else if (auto* bar = qobject_cast<QProgressBar*>(w)) {
        if (all || prop == Prop::Progress) {
            // Qt counts in int: a bar past that range is drawn to scale.
            std::uint64_t value = std::min(s.progress.value, s.progress.maximum), maximum = s.progress.maximum;
            while (maximum > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
                maximum >>= 1;
                value >>= 1;
            }
            if (maximum == 0) {
                // Nothing to count (an update of no sub-code): an empty bar, not the last
                // upgrade's picture. A range of 0..0 would be Qt's busy animation instead.
                bar->setMaximum(1);
                bar->setValue(0);
            } else {
                bar->setMaximum(static_cast<int>(maximum));
                bar->setValue(static_cast<int>(value));
            }
        }
    }
}

void TForm1::applyColor(Entry& e, const std::string& color) {
    QColor c;
    if (color.empty() || !namedColor(color, c)) {
        e.widget->setPalette(e.palette);
        return;
    }
    e.widget->setPalette(e.palette);
    setInk(e.widget, c);
}

void TForm1::applyHint(Entry& e, const std::string& hint) {
    const QString h = QString::fromStdString(hint);
    // Tool tips guess at markup; a hint is always plain text.
    e.widget->setToolTip(Qt::mightBeRichText(h) ? QStringLiteral("<qt>") + h.toHtmlEscaped() + QStringLiteral("</qt>") : h);
}

void TForm1::applyPosition(Entry& e, const ControlState& s) {
    // The engine says which navigation slot a page image takes; where a slot is on
    // the screen is this window's business.
    if (e.enginePlaced && s.slot >= 0 && s.slot < 5) e.widget->move(kNavX, kNavSlotY[s.slot]);
}

}  // namespace raid::gui
