#include "gui/Accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

#include "app/AccessibleText.h"
#include "app/ControlNames.h"
#include "gui/ImageControl.h"
#include "gui/pages/BaysPicture.h"

namespace raid::gui {

namespace {

QAccessible::Role qtRole(access::Role role) {
    switch (role) {
        case access::Role::Button: return QAccessible::Button;
        case access::Role::PageTab: return QAccessible::PageTab;
        case access::Role::Graphic: return QAccessible::Graphic;
        case access::Role::CheckBox: return QAccessible::CheckBox;
        case access::Role::Edit: return QAccessible::EditableText;
        case access::Role::ComboBox: return QAccessible::ComboBox;
        case access::Role::Table: return QAccessible::Table;
        case access::Role::ProgressBar: return QAccessible::ProgressBar;
        case access::Role::None: break;
    }
    return QAccessible::Graphic;
}

// A picture that acts as a button or tab, or the clickable panel. Pressing it from
// assistive technology is a click like any other.
class ClickableAccessible final : public QAccessibleWidget {
public:
    ClickableAccessible(QWidget* w, QAccessible::Role role) : QAccessibleWidget(w, role) {}

    QString text(QAccessible::Text t) const override {
        const access::Description desc = access::describe(widget()->objectName().toStdString());
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) return QString::fromStdString(desc.name);
        if (t == QAccessible::Accelerator && desc.mnemonic)
            return QStringLiteral("Alt+") + QChar::fromLatin1(desc.mnemonic);
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        if (auto* img = qobject_cast<ImageControl*>(widget())) {
            // A tab shows its yellow picture while it is the chosen one.
            if (role() == QAccessible::PageTab) {
                const std::string n = img->objectName().toStdString();
                const std::string shown = img->pictureName().toStdString();
                s.selectable = true;
                s.selected = s.checked = shown == names::yellowPicture(n);
            }
        }
        return s;
    }

    QStringList actionNames() const override {
        QStringList list = QAccessibleWidget::actionNames();
        if (widget()->isEnabled()) list.prepend(pressAction());
        return list;
    }

    void doAction(const QString& action) override {
        if (action != pressAction()) return QAccessibleWidget::doAction(action);
        if (auto* img = qobject_cast<ImageControl*>(widget())) img->click();
        else if (auto* panel = qobject_cast<ClickPanel*>(widget()); panel && panel->isEnabled())
            emit panel->activated();
    }
};

QAccessibleInterface* factory(const QString&, QObject* object) {
    auto* w = qobject_cast<QWidget*>(object);
    if (!w) return nullptr;
    if (auto* img = qobject_cast<ImageControl*>(w)) {
        const access::Description d = access::describe(img->objectName().toStdString());
        if (!img->clickable() || d.role == access::Role::None) return nullptr;  // backgrounds, picture sources
        return new ClickableAccessible(w, qtRole(d.role));
    }
    if (qobject_cast<ClickPanel*>(w)) return new ClickableAccessible(w, QAccessible::Button);
    // The enclosure picture: its name and description are its own (see BaysPicture).
    if (qobject_cast<BaysPicture*>(w)) return new QAccessibleWidget(w, QAccessible::Graphic);
    return nullptr;
}

}  // namespace

void installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

void nameControls(QWidget* root) {
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const access::Description d = access::describe(w->objectName().toStdString());
        // The enclosure picture names itself from what it shows.
        if (d.role == access::Role::None || d.role == access::Role::Graphic) continue;
        if (w->accessibleName().isEmpty()) w->setAccessibleName(QString::fromStdString(d.name));
    }
}

}  // namespace raid::gui
