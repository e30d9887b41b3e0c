#include "gui/MainWindow.h"

#include <algorithm>

#include <QAbstractButton>
#include <QCheckBox>
#include <QCloseEvent>
#include <QColor>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTextDocument>

#include "gui/Artwork.h"
#include "gui/ImageControl.h"

namespace raid::gui {

namespace {

// Where the navigation slots are, top to bottom.
constexpr int kNavX = 16;
constexpr int kNavSlotY[5] = {112, 168, 224, 280, 336};
constexpr int kPressedShift = 2;
const QRect kNotebookRect(216, 74, 385, 321);
constexpr int kStatusBarHeight = 19;
constexpr int kPanelWidths[5] = {120, 80, 80, 100, 250};
constexpr int kGridRows = 10;

const QColor kInk(0x24, 0x36, 0x4D);
const QColor kMuted(0x5F, 0x6E, 0x80);

QFont uiFont(int pixelSize, bool bold = false) { return Artwork::font(pixelSize, bold); }

// The engine's colour names; anything else a colour name Qt knows, or default.
bool namedColor(const std::string& name, QColor& out) {
    if (name == "red") out = QColor(0xFF, 0x00, 0x00);
    else if (name == "blue") out = QColor(0x00, 0x00, 0xFF);
    else if (name == "navy") out = QColor(0x00, 0x00, 0x80);
    else if (name == "grey" || name == "gray") out = QColor(0x80, 0x80, 0x80);
    else out = QColor::fromString(QString::fromStdString(name));
    return out.isValid();
}

void setInk(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::WindowText, c);
        pal.setColor(group, QPalette::Text, c);
        pal.setColor(group, QPalette::ButtonText, c);
    }
    w->setPalette(pal);
}

}  // namespace

TForm1::TForm1(ActionPoster post, QWidget* parent) : QWidget(parent), post_(std::move(post)) {
    setObjectName(qname(names::TForm1));
    // Single border, system menu and minimize only: the layout is drawn for exactly
    // this client size.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(uiFont(13));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, kInk);
    setPalette(pal);
    setAutoFillBackground(true);
    setWindowIcon(Artwork::icon());

    add(this);

    // Back to front: background, page book, navigation, form-level controls.
    const QPixmap raidBackground = Artwork::background(false);
    image(this, qname(names::Image_Background), raidBackground, {0, 0}, false);
    image(this, qname(names::Image_Background_RAID), raidBackground, {0, 0}, false)->hide();
    image(this, qname(names::Image_Background_OEM), Artwork::background(true), {0, 0}, false)->hide();

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
    buildStatusPage(book->widget(0));
    buildUpgradePage(book->widget(2));
    buildEmailPage(book->widget(3));
    buildAboutPage(book->widget(4));
    book->setCurrentIndex(0);

    buildNavigation();

    // Device check boxes sit above the navigation: they choose what both the Status
    // and the Upgrade page show.
    checkBox(this, qname(names::CheckBox1), QStringLiteral("Device1"), QRect(22, 78, 80, 22))->hide();
    checkBox(this, qname(names::CheckBox3), QStringLiteral("Device2"), QRect(106, 78, 80, 22))->hide();

    // The start-up message ("Drive detecting", "No Drive found! ") is the one thing to
    // read while there is no enclosure, so it sits in the middle of the page card.
    label(this, qname(names::StaticText1), QRect(216, 214, 385, 30), Qt::AlignCenter, 17, true);

    for (const char* name : {names::Memo1, names::Memo2, names::Memo7}) memo(this, QString::fromLatin1(name), QRect(0, 0, 10, 10))->hide();

    buildStatusBar();
}

TForm1::~TForm1() = default;

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

ImageControl* TForm1::image(QWidget* parent, const QString& name, const QPixmap& picture, QPoint pos,
                            bool clickable) {
    auto* img = new ImageControl(name, picture, parent, clickable);
    img->move(pos);
    if (clickable) {
        const std::string n = name.toStdString();
        connect(img, &ImageControl::clicked, this, [this, n] { post([n](EngineCommands& f) { f.Click(n); }); });
        // The pressed look of the push images: 2 px down while the button is held.
        const bool push = std::find(names::pushImages.begin(), names::pushImages.end(), n) != names::pushImages.end();
        if (push) {
            connect(img, &ImageControl::pressed, this, [img] { img->move(img->pos() + QPoint(0, kPressedShift)); });
            connect(img, &ImageControl::released, this, [img] { img->move(img->pos() - QPoint(0, kPressedShift)); });
        }
    }
    add(img);
    return img;
}

void TForm1::sources(QWidget* parent, const QString& name, const QPixmap& yellow, const QPixmap& white, QPoint pos,
                     bool enginePlaced) {
    const std::string n = name.toStdString();
    for (auto [source, pm] : {std::pair{names::yellowPicture(n), yellow}, std::pair{names::whitePicture(n), white}}) {
        auto* src = new ImageControl(qname(source), pm, parent, false);
        src->move(pos);
        src->hide();
        add(src, enginePlaced);
    }
}

QLabel* TForm1::label(QWidget* parent, const QString& name, const QRect& r, int align, int pixelSize, bool bold,
                      const QString& text) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    // Engine texts are shown as they are: a drive model or a path never turns into markup.
    l->setTextFormat(Qt::PlainText);
    l->setGeometry(r);
    l->setAlignment(Qt::Alignment(align));
    l->setFont(uiFont(pixelSize, bold));
    l->installEventFilter(this);
    add(l);
    return l;
}

QLabel* TForm1::caption(QWidget* parent, const QString& text, const QRect& r, int pixelSize, bool bold, int align) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setGeometry(r);
    l->setAlignment(align ? Qt::Alignment(align) : Qt::AlignLeft | Qt::AlignVCenter);
    l->setFont(uiFont(pixelSize, bold));
    if (!bold) setInk(l, kMuted);
    return l;
}

QCheckBox* TForm1::checkBox(QWidget* parent, const QString& name, const QString& text, const QRect& r) {
    auto* cb = new QCheckBox(text, parent);
    cb->setObjectName(name);
    cb->setGeometry(r);
    const std::string n = name.toStdString();
    // clicked() comes only from the user; the engine's own changes (setChecked) stay
    // quiet, so they are never sent back as clicks.
    connect(cb, &QCheckBox::clicked, this, [this, n](bool checked) {
        post([n, checked](EngineCommands& f) { f.CheckBoxClick(n, checked); });
    });
    add(cb);
    return cb;
}

QLineEdit* TForm1::edit(QWidget* parent, const QString& name, const QRect& r) {
    auto* le = new QLineEdit(parent);
    le->setObjectName(name);
    le->setGeometry(r);
    connect(le, &QLineEdit::textEdited, this, [this, name](const QString& text) { forwardEditText(name, text); });
    add(le);
    return le;
}

QPlainTextEdit* TForm1::memo(QWidget* parent, const QString& name, const QRect& r) {
    auto* m = new QPlainTextEdit(parent);
    m->setObjectName(name);
    m->setGeometry(r);
    connect(m, &QPlainTextEdit::textChanged, this, [this, m, name] {
        if (!applying_) forwardEditText(name, m->toPlainText());
    });
    add(m);
    return m;
}

QTableWidget* TForm1::grid(QWidget* parent, const QString& name, const QRect& r) {
    auto* g = new QTableWidget(kGridRows, 1, parent);
    g->setObjectName(name);
    g->setGeometry(r);
    g->horizontalHeader()->hide();
    g->verticalHeader()->hide();
    g->horizontalHeader()->setStretchLastSection(true);
    g->verticalHeader()->setDefaultSectionSize(16);
    g->setEditTriggers(QAbstractItemView::NoEditTriggers);
    g->setSelectionMode(QAbstractItemView::SingleSelection);
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    g->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    g->setShowGrid(true);
    for (int row = 0; row < kGridRows; ++row) g->setItem(row, 0, new QTableWidgetItem);
    const std::string n = name.toStdString();
    connect(g, &QTableWidget::currentCellChanged, this, [this, n](int row, int, int, int) {
        if (applying_ || row < 0) return;
        post([n, row](EngineCommands& f) { f.SelectCell(n, row); });
    });
    add(g);
    return g;
}

QWidget* TForm1::rule(QWidget* parent, const QRect& r) {
    auto* line = new QWidget(parent);
    line->setGeometry(r);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Window, QColor(0xD5, 0xDD, 0xE7));
    line->setPalette(pal);
    line->setAutoFillBackground(true);
    return line;
}

void TForm1::buildNavigation() {
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
        sources(this, name, yellow, white, {kNavX, kNavSlotY[p]}, true);
        const QPoint at(kNavX, kNavSlotY[p == 1 ? 1 : slot]);
        ImageControl* img = image(this, name, p == 0 ? yellow : white, at);
        controls_[name].enginePlaced = true;
        img->setEnabled(false);
        if (p == 1)
            img->hide();
        else
            ++slot;
    }
}

void TForm1::deviceTabs(QWidget* page, const std::array<const char*, 2>& tabs) {
    // The two device tabs of a page, with their yellow and white pictures; hidden until
    // a detection finds the devices.
    const QSize tabSize(96, 28);
    const QPoint at[2] = {{10, 8}, {108, 8}};
    for (int i = 0; i < 2; ++i) {
        const QString name = qname(tabs[static_cast<std::size_t>(i)]);
        const QString caption = QStringLiteral("Device") + QString::number(i + 1);
        sources(page, name, Artwork::tab(caption, tabSize, true), Artwork::tab(caption, tabSize, false), at[i]);
        image(page, name, Artwork::tab(caption, tabSize, i == 0), at[i])->hide();
    }
}

void TForm1::buildStatusPage(QWidget* page) {
    deviceTabs(page, names::statusDeviceImage);
    image(page, qname(names::Image0_Log), Artwork::pushButton(QStringLiteral("Event Log"), QSize(92, 28), false),
          {283, 6})
        ->hide();
    rule(page, QRect(4, 36, 377, 1));

    const int vc = Qt::AlignLeft | Qt::AlignVCenter;
    caption(page, QStringLiteral("Mode"), QRect(14, 46, 84, 20));
    label(page, qname(names::Label17), QRect(100, 46, 272, 20), vc, 13, true);
    caption(page, QStringLiteral("Capacity"), QRect(14, 66, 84, 20));
    label(page, qname(names::Label27), QRect(100, 66, 272, 20), vc, 13, true);
    caption(page, QStringLiteral("Firmware"), QRect(14, 86, 84, 20));
    label(page, qname(names::Label48), QRect(100, 86, 272, 20), vc, 13, true);

    // Two bays with the controller's state between them.
    const QSize baySize(122, 156);
    const QSize driveSize(60, 76);
    const int bayX[2] = {8, 255};
    const char* names[2][3] = {{names::Label45, names::Label25, names::Label51}, {names::Label46, names::Label26, names::Label52}};
    for (int i = 0; i < 2; ++i) {
        auto* bay = new QLabel(page);
        bay->setPixmap(Artwork::bay(baySize));
        bay->setGeometry(QRect(QPoint(bayX[i], 112), baySize));
        label(page, QString::fromLatin1(names[i][0]), QRect(bayX[i], 116, baySize.width(), 18), Qt::AlignCenter, 13,
              true);
        auto* pic = new ImageControl(QStringLiteral("DrivePicture%1").arg(i + 1), Artwork::drive(driveSize), page,
                                     false);
        pic->move(bayX[i] + (baySize.width() - driveSize.width()) / 2, 136);
        pic->setEnabled(false);
        label(page, QString::fromLatin1(names[i][1]), QRect(bayX[i], 216, baySize.width(), 18),
              Qt::AlignHCenter | Qt::AlignTop, 13, true);
        QLabel* model = label(page, QString::fromLatin1(names[i][2]), QRect(bayX[i] + 2, 236, baySize.width() - 4, 30),
                              Qt::AlignHCenter | Qt::AlignTop, 11);
        model->setWordWrap(true);
    }
    QLabel* centre = label(page, qname(names::Label18), QRect(130, 136, 125, 66), Qt::AlignCenter, 15, true);
    centre->setWordWrap(true);
    // The enclosure picture's words; drawn by the picture widget once it exists.
    label(page, qname(names::Image0_Bays), QRect(0, 0, 1, 1), Qt::AlignLeft)->hide();
    label(page, qname(names::Label20), QRect(130, 206, 125, 16), Qt::AlignCenter, 11);
    label(page, qname(names::Label21), QRect(130, 222, 125, 16), Qt::AlignCenter, 11);

    auto* panel = new QFrame(page);
    panel->setObjectName(qname(names::Panel11));
    panel->setGeometry(8, 276, 369, 36);
    panel->setFrameShape(QFrame::StyledPanel);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, QColor(0xF2, 0xF5, 0xF9));
    panel->setPalette(pal);
    panel->setAutoFillBackground(true);
    add(panel);
    caption(panel, QStringLiteral("Fan"), QRect(14, 8, 40, 20));
    label(panel, qname(names::Label5), QRect(54, 8, 60, 20), Qt::AlignRight | Qt::AlignVCenter, 13, true);
    caption(panel, QStringLiteral("RPM"), QRect(118, 8, 40, 20));
    caption(panel, QStringLiteral("Temperature"), QRect(190, 8, 90, 20));
    label(panel, qname(names::Label7), QRect(280, 8, 34, 20), Qt::AlignRight | Qt::AlignVCenter, 13, true);
    caption(panel, QString::fromUtf8("\xC2\xB0" "C"), QRect(318, 8, 30, 20));
    panel->hide();
}

void TForm1::buildUpgradePage(QWidget* page) {
    deviceTabs(page, names::upgradeDeviceImage);
    rule(page, QRect(4, 36, 377, 1));

    const int vc = Qt::AlignLeft | Qt::AlignVCenter;
    caption(page, QStringLiteral("Firmware Version:"), QRect(14, 48, 128, 20));
    label(page, qname(names::FirmwareVersion), QRect(144, 48, 228, 20), vc, 13, true);
    caption(page, QStringLiteral("Firmware File:"), QRect(14, 78, 128, 20));
    QLineEdit* file = edit(page, qname(names::Edit9), QRect(14, 99, 262, 26));
    file->setReadOnly(true);
    image(page, qname(names::Image2_Load), Artwork::pushButton(QStringLiteral("Load"), QSize(92, 28), false),
          {283, 98})
        ->setEnabled(false);

    label(page, qname(names::UpgradeTitle), QRect(14, 142, 358, 20), vc, 14, true,
          QStringLiteral("Firmware Upgrade"));
    auto* bar = new QProgressBar(page);
    bar->setObjectName(qname(names::ProgressBar1));
    bar->setGeometry(14, 168, 358, 18);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    add(bar);
    QLabel* panel = label(page, qname(names::UpgradePanel), QRect(14, 192, 358, 22), Qt::AlignCenter, 13, true);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->hide();

    image(page, qname(names::Image2_Upgrade),
          Artwork::pushButton(QStringLiteral("Upgrade"), QSize(120, 34), true), {132, 232})
        ->setEnabled(false);
    QLabel* note = caption(page,
                           QStringLiteral("Keep the enclosure powered on until the upgrade has completed."),
                           QRect(14, 280, 358, 32), 11, false, Qt::AlignHCenter | Qt::AlignTop);
    note->setWordWrap(true);
}

void TForm1::buildEmailPage(QWidget* page) {
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
        sources(page, name, Artwork::tab(text, size, true), Artwork::tab(text, size, false), {tabs[i].x, 8});
        image(page, name, Artwork::tab(text, size, i == 0), {tabs[i].x, 8});
    }
    rule(page, QRect(4, 36, 377, 1));

    auto* book = new QStackedWidget(page);
    book->setObjectName(qname(names::Notebook2));
    book->setGeometry(4, 40, 377, 238);
    const char* captions[3] = {"Setup", "HDD_Fail", "DeviceRemove"};
    for (const char* c : captions) {
        auto* sub = new QWidget(book);
        sub->setProperty("pageCaption", QString::fromLatin1(c));
        book->addWidget(sub);
    }
    add(book);
    buildSetupSubPage(book->widget(0));
    buildRecipientSubPage(book->widget(1), qname(names::Edit7), qname(names::Image3_1P),
                          qname(names::Image3_1M), qname(names::StringGrid1), qname(names::Edit10),
                          qname(names::Memo6), QStringLiteral("Hard Disk Fail info. and "),
                          qname(names::CheckBox2));
    buildRecipientSubPage(book->widget(2), qname(names::Edit6), qname(names::Image3_2P),
                          qname(names::Image3_2M), qname(names::StringGrid2), qname(names::Edit11),
                          qname(names::Memo4), QStringLiteral("Device Removed info. and "),
                          qname(names::CheckBox4));

    image(page, qname(names::Image3_OK), Artwork::pushButton(QStringLiteral("OK"), QSize(90, 30), true),
          {96, 284});
    image(page, qname(names::Image3_Ignore), Artwork::pushButton(QStringLiteral("Ignore"), QSize(90, 30), false),
          {198, 284});
}

void TForm1::buildSetupSubPage(QWidget* page) {
    caption(page, QStringLiteral("E-Mail Host (SMTP)"), QRect(8, 4, 200, 18));
    edit(page, qname(names::Edit2), QRect(8, 22, 220, 24));
    caption(page, QStringLiteral("Port"), QRect(236, 4, 50, 18));
    edit(page, qname(names::Edit1), QRect(236, 22, 46, 24));
    caption(page, QStringLiteral("( Default 25 )"), QRect(288, 22, 86, 24), 11);

    caption(page, QStringLiteral("Local Information"), QRect(8, 54, 200, 18), 13, true);
    rule(page, QRect(144, 63, 226, 1));
    caption(page, QStringLiteral("Name"), QRect(8, 74, 160, 18));
    edit(page, qname(names::Edit3), QRect(8, 92, 170, 24));
    caption(page, QStringLiteral("E-Mail Address"), QRect(188, 74, 180, 18));
    edit(page, qname(names::Edit4), QRect(188, 92, 182, 24));

    caption(page, QStringLiteral("Time Out"), QRect(8, 126, 120, 18));
    caption(page, QStringLiteral("Connect E-mail Host"), QRect(8, 146, 140, 20), 11);
    QLineEdit* timeout = edit(page, qname(names::Edit5), QRect(150, 144, 36, 24));
    timeout->setMaxLength(2);
    caption(page, QStringLiteral("(Sec)"), QRect(192, 144, 40, 24));

    checkBox(page, qname(names::CheckBox8), QStringLiteral("SMTP Login Authentication"), QRect(8, 184, 214, 24));
    QLineEdit* password = edit(page, qname(names::Edit8), QRect(226, 184, 144, 24));
    password->setEchoMode(QLineEdit::Password);
    password->setMaxLength(15);
    password->hide();
}

void TForm1::buildRecipientSubPage(QWidget* page, const QString& editName, const QString& plus,
                                   const QString& minus, const QString& gridName, const QString& subject,
                                   const QString& contents, const QString& autoAddLine, const QString& box) {
    caption(page, QStringLiteral("E-Mail Address"), QRect(6, 2, 170, 18));
    edit(page, editName, QRect(6, 20, 126, 24));
    image(page, plus, Artwork::signButton(true, QSize(22, 22)), {136, 21});
    image(page, minus, Artwork::signButton(false, QSize(22, 22)), {160, 21});
    grid(page, gridName, QRect(6, 50, 176, 164));

    caption(page, QStringLiteral("Subject"), QRect(192, 2, 178, 18));
    edit(page, subject, QRect(192, 20, 180, 24));
    caption(page, QStringLiteral("Contents"), QRect(192, 48, 178, 18));
    memo(page, contents, QRect(192, 66, 180, 82));
    caption(page, QStringLiteral("Auto Add :"), QRect(192, 150, 178, 16), 11, true);
    caption(page, autoAddLine, QRect(192, 166, 180, 15), 11);
    QLabel* tail = caption(page, QStringLiteral("system info. in front of E-Mail contents."), QRect(192, 181, 180, 30),
                           11, false, Qt::AlignLeft | Qt::AlignTop);
    tail->setWordWrap(true);
    checkBox(page, box, QStringLiteral("Don't send EMail for this event."), QRect(6, 216, 366, 22));
}

void TForm1::buildAboutPage(QWidget* page) {
    auto* picture = new QLabel(page);
    picture->setPixmap(Artwork::enclosure(QSize(150, 110)));
    picture->setGeometry(117, 30, 150, 110);
    label(page, qname(names::Label63), QRect(0, 156, 385, 28), Qt::AlignCenter, 18, true);
    label(page, qname(names::Label65), QRect(0, 186, 385, 20), Qt::AlignCenter, 13);
    rule(page, QRect(92, 220, 200, 1));
    QLabel* blurb = caption(page,
                            QStringLiteral("Status monitoring, event log, e-mail alerts and firmware "
                                           "upgrade for two-bay storage enclosures."),
                            QRect(40, 232, 305, 40), 12, false, Qt::AlignHCenter | Qt::AlignTop);
    blurb->setWordWrap(true);
}

void TForm1::buildStatusBar() {
    auto* bar = new QFrame(this);
    bar->setObjectName(qname(names::StatusBar1));
    bar->setGeometry(0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight);
    QPalette pal = bar->palette();
    pal.setColor(QPalette::Window, QColor(0xEC, 0xEF, 0xF3));
    bar->setPalette(pal);
    bar->setAutoFillBackground(true);
    bar->installEventFilter(this);
    add(bar);
    rule(bar, QRect(0, 0, kClientWidth, 1));
    int x = 0;
    for (int i = 0; i < 5; ++i) {
        // The last panel takes what is left of the bar (it holds the longest texts).
        const int w = i == 4 ? kClientWidth - x : kPanelWidths[i];
        auto* panel = new QLabel(bar);
        panel->setObjectName(QString::fromStdString(panelName(i)));
        panel->setTextFormat(Qt::PlainText);
        panel->setGeometry(x + 3, 1, w - 5, kStatusBarHeight - 1);
        panel->setFont(uiFont(11));
        panel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        panel->installEventFilter(this);
        add(panel);
        if (i < 4) rule(bar, QRect(x + w - 1, 3, 1, kStatusBarHeight - 6));
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
        if (all || change.prop == Prop::Visible) e.widget->setVisible(s.visible);
        if (all || change.prop == Prop::Enabled) e.widget->setEnabled(s.enabled);
        if (all || change.prop == Prop::Checked) {
            if (auto* cb = qobject_cast<QCheckBox*>(e.widget)) cb->setChecked(s.checked);
        }
        if (all || change.prop == Prop::Color) applyColor(e, s.color);
        if (all || change.prop == Prop::Hint) applyHint(e, s.hint);
        if (all || change.prop == Prop::Slot) applyPosition(e, s);
    }
    applying_ = false;
    const QString& name = it.key();
    if (name == qname(names::Label51) || name == qname(names::Label52)) refreshDrivePictures();
}

void TForm1::applyText(Entry& e, const QString& text) {
    QWidget* w = e.widget;
    if (w == this) {
        setWindowTitle(text);
    } else if (auto* img = qobject_cast<ImageControl*>(w)) {
        img->showPicture(text, [this](const QString& n) { return control<ImageControl>(n); });
    } else if (auto* book = qobject_cast<QStackedWidget*>(w)) {
        // A page is chosen by its number or by its caption.
        bool isNumber = false;
        const int index = text.toInt(&isNumber);
        if (isNumber) {
            if (index >= 0 && index < book->count()) book->setCurrentIndex(index);
        } else {
            for (int i = 0; i < book->count(); ++i)
                if (book->widget(i)->property("pageCaption").toString() == text) book->setCurrentIndex(i);
        }
    } else if (auto* le = qobject_cast<QLineEdit*>(w)) {
        if (isEcho(e, text)) return;
        if (le->text() != text) le->setText(text);
    } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
        if (isEcho(e, text)) return;
        if (m->toPlainText() != text) m->setPlainText(text);
    } else if (auto* g = qobject_cast<QTableWidget*>(w)) {
        // One row per line, the rows past the text emptied.
        const QStringList rows = text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
        for (int row = 0; row < g->rowCount(); ++row) g->item(row, 0)->setText(row < rows.size() ? rows[row] : QString());
    } else if (auto* bar = qobject_cast<QProgressBar*>(w)) {
        // "value" or "value/maximum".
        const QStringList parts = text.split(QLatin1Char('/'));
        bool okValue = false, okMax = true;
        const int value = parts.value(0).trimmed().toInt(&okValue);
        int maximum = bar->maximum();
        if (parts.size() > 1) maximum = parts[1].trimmed().toInt(&okMax);
        if (okValue && okMax && maximum > 0) {
            bar->setMaximum(maximum);
            bar->setValue(std::clamp(value, 0, maximum));
        }
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        l->setText(text);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(text);
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

void TForm1::refreshDrivePictures() {
    const char* models[2] = {names::Label51, names::Label52};
    for (int i = 1; i <= 2; ++i) {
        auto* model = control<QLabel>(qname(models[i - 1]));
        auto* pic = findChild<ImageControl*>(QStringLiteral("DrivePicture%1").arg(i));
        if (model && pic) pic->setEnabled(model->isEnabled() && !model->text().trimmed().isEmpty());
    }
}

}  // namespace raid::gui
