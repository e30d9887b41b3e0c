#include "gui/pages/PageBuilder.h"

#include <algorithm>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QComboBox>
#include <QLineEdit>
#include <QPalette>
#include <QPlainTextEdit>
#include <QTableWidget>

#include "gui/Artwork.h"
#include "gui/ImageControl.h"
#include "gui/MainWindow.h"
#include "gui/pages/FitLabel.h"

namespace raid::gui {

namespace {

constexpr int kPressedShift = 2;
constexpr int kGridRows = 10;

}  // namespace

QColor inkColor() { return QColor(0x24, 0x36, 0x4D); }
QColor mutedColor() { return QColor(0x5F, 0x6E, 0x80); }

void setInk(QWidget* w, const QColor& c) {
    QPalette pal = w->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::WindowText, c);
        pal.setColor(group, QPalette::Text, c);
        pal.setColor(group, QPalette::ButtonText, c);
    }
    w->setPalette(pal);
}

void PageBuilder::add(QWidget* w, bool enginePlaced) { window_.add(w, enginePlaced); }

ImageControl* PageBuilder::image(QWidget* parent, const QString& name, const QPixmap& picture, QPoint pos,
                                 bool clickable, bool enginePlaced) {
    auto* img = new ImageControl(name, picture, parent, clickable);
    img->move(pos);
    if (clickable) {
        const std::string n = name.toStdString();
        TForm1* w = &window_;
        QObject::connect(img, &ImageControl::clicked, w,
                         [w, n] { w->post([n](EngineCommands& f) { f.Click(n); }); });
        // The pressed look of the push images: 2 px down while the button is held.
        const bool push = std::find(names::pushImages.begin(), names::pushImages.end(), n) != names::pushImages.end();
        if (push) {
            QObject::connect(img, &ImageControl::pressed, w,
                             [img] { img->move(img->pos() + QPoint(0, kPressedShift)); });
            QObject::connect(img, &ImageControl::released, w,
                             [img] { img->move(img->pos() - QPoint(0, kPressedShift)); });
        }
    }
    add(img, enginePlaced);
    return img;
}

void PageBuilder::sources(QWidget* parent, const QString& name, const QPixmap& yellow, const QPixmap& white,
                          QPoint pos, bool enginePlaced) {
    const std::string n = name.toStdString();
    for (auto [source, pm] : {std::pair{names::yellowPicture(n), yellow}, std::pair{names::whitePicture(n), white}}) {
        auto* src = new ImageControl(qname(source), pm, parent, false);
        src->move(pos);
        src->hide();
        add(src, enginePlaced);
        window_.controls_[src->objectName()].pictureSource = true;
    }
}

void PageBuilder::labelCommon(QLabel* l, const QString& name, const QRect& r, int align, int pixelSize, bool bold,
                              const QColor& ink) {
    l->setObjectName(name);
    // Engine texts are shown as they are: a drive model or a path never turns into markup.
    l->setTextFormat(Qt::PlainText);
    l->setGeometry(r);
    l->setAlignment(Qt::Alignment(align));
    l->setFont(Artwork::font(pixelSize, bold));
    if (ink.isValid()) setInk(l, ink);
    l->installEventFilter(&window_);
    add(l);
}

QLabel* PageBuilder::label(QWidget* parent, const QString& name, const QRect& r, int align, int pixelSize, bool bold,
                           const QString& text) {
    auto* l = new QLabel(text, parent);
    labelCommon(l, name, r, align, pixelSize, bold);
    return l;
}

FitLabel* PageBuilder::fitLabel(QWidget* parent, const QString& name, const QRect& r, int align, int pixelSize,
                                bool bold, const QColor& ink) {
    auto* l = new FitLabel(parent);
    labelCommon(l, name, r, align, pixelSize, bold, ink);
    return l;
}

QLabel* PageBuilder::caption(QWidget* parent, const QString& text, const QRect& r, int pixelSize, bool bold,
                             int align) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setGeometry(r);
    l->setAlignment(align ? Qt::Alignment(align) : Qt::AlignLeft | Qt::AlignVCenter);
    l->setFont(Artwork::font(pixelSize, bold));
    if (!bold) setInk(l, mutedColor());
    return l;
}

QCheckBox* PageBuilder::checkBox(QWidget* parent, const QString& name, const QRect& r) {
    auto* cb = new QCheckBox(QString::fromStdString(names::caption(name.toStdString())), parent);
    cb->setObjectName(name);
    cb->setGeometry(r);
    const std::string n = name.toStdString();
    TForm1* w = &window_;
    // clicked() comes only from the user; the engine's own changes (setChecked) stay
    // quiet, so they are never sent back as clicks.
    QObject::connect(cb, &QCheckBox::clicked, w, [w, n](bool checked) {
        w->post([n, checked](EngineCommands& f) { f.CheckBoxClick(n, checked); });
    });
    add(cb);
    return cb;
}

QLineEdit* PageBuilder::edit(QWidget* parent, const QString& name, const QRect& r) {
    auto* le = new QLineEdit(parent);
    le->setObjectName(name);
    le->setGeometry(r);
    TForm1* w = &window_;
    QObject::connect(le, &QLineEdit::textEdited, w, [w, name](const QString& text) { w->forwardEditText(name, text); });
    add(le);
    return le;
}

QComboBox* PageBuilder::comboBox(QWidget* parent, const QString& name, const QRect& r, const QStringList& items) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setGeometry(r);
    box->addItems(items);
    TForm1* w = &window_;
    // activated() comes only from the user: the engine's own choice never echoes back.
    QObject::connect(box, &QComboBox::activated, w, [w, name, box](int index) {
        const std::string n = name.toStdString(), t = box->itemText(index).toStdString();
        w->post([n, t](EngineCommands& f) { f.EditChange(n, t); });
    });
    add(box);
    return box;
}

QPlainTextEdit* PageBuilder::memo(QWidget* parent, const QString& name, const QRect& r) {
    auto* m = new QPlainTextEdit(parent);
    m->setObjectName(name);
    m->setGeometry(r);
    // Tab moves on to the next control rather than typing a tab into the mail text, so
    // the keyboard can leave the box.
    m->setTabChangesFocus(true);
    TForm1* w = &window_;
    QObject::connect(m, &QPlainTextEdit::textChanged, w, [w, m, name] {
        if (!w->applying_) w->forwardEditText(name, m->toPlainText());
    });
    add(m);
    return m;
}

QTableWidget* PageBuilder::grid(QWidget* parent, const QString& name, const QRect& r) {
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
    // One column of rows: the arrows move between them and Tab leaves the grid.
    g->setTabKeyNavigation(false);
    for (int row = 0; row < kGridRows; ++row) g->setItem(row, 0, new QTableWidgetItem);
    const std::string n = name.toStdString();
    TForm1* w = &window_;
    QObject::connect(g, &QTableWidget::currentCellChanged, w, [w, n](int row, int, int, int) {
        if (w->applying_ || row < 0) return;
        w->post([n, row](EngineCommands& f) { f.SelectCell(n, row); });
    });
    add(g);
    return g;
}

QWidget* PageBuilder::rule(QWidget* parent, const QRect& r) {
    auto* line = new QWidget(parent);
    line->setGeometry(r);
    QPalette pal = line->palette();
    pal.setColor(QPalette::Window, QColor(0xD5, 0xDD, 0xE7));
    line->setPalette(pal);
    line->setAutoFillBackground(true);
    return line;
}

void PageBuilder::deviceTabs(QWidget* page, const std::array<const char*, 2>& tabs) {
    const QSize tabSize(96, 28);
    const QPoint at[2] = {{10, 8}, {108, 8}};
    for (int i = 0; i < 2; ++i) {
        const QString name = qname(tabs[static_cast<std::size_t>(i)]);
        const QString text = QStringLiteral("Device") + QString::number(i + 1);
        sources(page, name, Artwork::tab(text, tabSize, true), Artwork::tab(text, tabSize, false), at[i]);
        image(page, name, Artwork::tab(text, tabSize, i == 0), at[i])->hide();
    }
}

}  // namespace raid::gui
