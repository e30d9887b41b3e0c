// TForm1, the main window: page book, navigation images, status bar and every
// control the pages fill, each carrying its control name as objectName.
//
// The window keeps no state of its own beyond what it shows. The engine publishes
// control changes (applied here, on the Qt thread) and the window forwards what the
// user does as engine actions.
#pragma once

#include <array>

#include <QHash>
#include <QPalette>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <deque>

#include "app/Controls.h"
#include "gui/EngineActions.h"


namespace raid::gui {

class PageBuilder;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 620;
    static constexpr int kClientHeight = 440;

    explicit TForm1(ActionPoster post, QWidget* parent = nullptr);
    // How long a hint stays up (ms), for every control's tool tip.
    void setHintHidePause(int ms);
    int hintHidePause() const { return hintHidePause_; }
    ~TForm1() override;

    // Applies one change of the engine's window model. Qt thread only. Unknown
    // control names are ignored.
    void applyChange(const ControlChange& change);

    // The widget that carries a control name (nullptr for names the window lacks).
    QWidget* control(const QString& name) const;
    template <class W>
    W* control(const QString& name) const {
        return qobject_cast<W*>(control(name));
    }

    // A click on the named control, as the engine hears of it (the mouse, the keys and
    // assistive technology all come through here or ImageControl::clicked).
    void postClick(const std::string& control);

    // The engine has decided the program ends: let the closing through.
    void allowClose() { closeAllowed_ = true; }

protected:
    void closeEvent(QCloseEvent* e) override;
    void showEvent(QShowEvent* e) override;
    // Clicks on labels and the status bar's double click.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry {
        QWidget* widget = nullptr;
        QPoint design;             // where the layout puts the control
        bool enginePlaced = false; // placed by the engine on a navigation slot
        bool pictureSource = false; // a hidden `_Yellow` / `_White` picture holder
        QPalette palette;          // the control's own colours ("" colour)
        std::deque<QString> echoes;  // texts sent to the engine, not yet echoed back
    };

    // The page builder registers the controls it makes and wires them to post().
    friend class PageBuilder;

    void post(EngineAction action);
    Entry& add(QWidget* w, bool enginePlaced = false);

    void buildNavigation(PageBuilder& b);
    void buildStatusBar(PageBuilder& b);
    // Tab order (navigation, device boxes, then the pages' controls as laid out) and
    // the Alt keys that choose a page.
    void setUpKeyboard();

    void applyText(Entry& e, const QString& text);
    // The typed views: the enclosure picture, a page book's page, a grid's rows, a bar.
    void applyView(Entry& e, const ControlState& s, Prop prop);
    void applyColor(Entry& e, const std::string& color);
    void applyHint(Entry& e, const std::string& hint);
    void applyPosition(Entry& e, const ControlState& s);
    // True (and consumed) when `text` is the engine echoing what the user typed.
    bool isEcho(Entry& e, const QString& text);
    void forwardEditText(const QString& name, const QString& text);

    ActionPoster post_;
    int hintHidePause_ = -1;
    QHash<QString, Entry> controls_;
    bool closeAllowed_ = false;
    bool applying_ = false;  // engine changes being applied: not user edits
    bool centred_ = false;
};

}  // namespace raid::gui
