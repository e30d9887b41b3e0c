// TForm5, the event log window: the day's log live, or an older log file.
//
// The lines belong to the engine; every second the window asks for the ones it does
// not have yet (MainForm::logSnapshot) and appends them. Monitoring goes on while the
// window is open: it is modal to the main window, not to the engine.
#pragma once

#include <QDialog>
#include <QPalette>
#include <QString>

#include <cstddef>

#include "gui/EngineActions.h"

class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace raid::gui {

class TForm5 final : public QDialog {
    Q_OBJECT
public:
    static inline const QString kLiveCaption = QStringLiteral("Event log - Real Time");
    static inline const QString kPausedCaption = QStringLiteral("Event log - Real Time( Paused )");

    TForm5(ActionPoster post, QWidget* parent);
    ~TForm5() override;

    // Loads a log file into the text area (what "View Log File" does after the file
    // dialog). False when the file cannot be read; the text area is then unchanged.
    bool viewFile(const QString& path);
    // Back to the live day log ("Real Time Log").
    void realTime();

    // Largest file "View Log File" loads; a day log is a few hundred KiB at most.
    static constexpr qint64 kMaxFileBytes = 64ll << 20;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void requestLines(bool restart);
    void applySnapshot(const LogSnapshot& snap, bool restart, int generation);
    void setLive(bool live);
    void chooseFile();

    ActionPoster post_;
    QPlainTextEdit* text_ = nullptr;
    QPushButton* realTime_ = nullptr;
    QPushButton* viewFile_ = nullptr;
    QTimer* timer_ = nullptr;
    QPalette normal_;
    std::size_t have_ = 0;  // day lines shown so far
    int generation_ = 0;    // bumped by every switch between live log and file
    bool asking_ = false;   // a snapshot request is on its way
    bool started_ = false;
};

}  // namespace raid::gui
