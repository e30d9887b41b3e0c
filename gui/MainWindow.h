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

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QStackedWidget;
class QTableWidget;

namespace raid::gui {

class ImageControl;

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
        QPalette palette;          // the control's own colours ("" colour)
        std::deque<QString> echoes;  // texts sent to the engine, not yet echoed back
    };

    void post(EngineAction action);
    Entry& add(QWidget* w, bool enginePlaced = false);

    // Builders; each registers the control under its name.
    ImageControl* image(QWidget* parent, const QString& name, const QPixmap& picture, QPoint pos,
                        bool clickable = true);
    // Hidden picture sources `<name>_Yellow` / `<name>_White` next to their image.
    void sources(QWidget* parent, const QString& name, const QPixmap& yellow, const QPixmap& white, QPoint pos,
                 bool enginePlaced = false);
    QLabel* label(QWidget* parent, const QString& name, const QRect& r, int align, int pixelSize = 13,
                  bool bold = false, const QString& text = {});
    QLabel* caption(QWidget* parent, const QString& text, const QRect& r, int pixelSize = 13, bool bold = false,
                    int align = 0);
    QCheckBox* checkBox(QWidget* parent, const QString& name, const QString& text, const QRect& r);
    QLineEdit* edit(QWidget* parent, const QString& name, const QRect& r);
    QPlainTextEdit* memo(QWidget* parent, const QString& name, const QRect& r);
    QTableWidget* grid(QWidget* parent, const QString& name, const QRect& r);
    QWidget* rule(QWidget* parent, const QRect& r);

    void buildNavigation();
    void deviceTabs(QWidget* page, const std::array<const char*, 2>& tabs);
    void buildStatusPage(QWidget* page);
    void buildUpgradePage(QWidget* page);
    void buildEmailPage(QWidget* page);
    void buildSetupSubPage(QWidget* page);
    void buildRecipientSubPage(QWidget* page, const QString& edit, const QString& plus, const QString& minus,
                               const QString& grid, const QString& subject, const QString& contents,
                               const QString& autoAddLine, const QString& checkBox);
    void buildAboutPage(QWidget* page);
    void buildStatusBar();

    void applyText(Entry& e, const QString& text);
    void applyColor(Entry& e, const std::string& color);
    void applyHint(Entry& e, const std::string& hint);
    void applyPosition(Entry& e, const ControlState& s);
    // Drive pictures follow their drive's model label: faded when the drive is gone.
    void refreshDrivePictures();
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
