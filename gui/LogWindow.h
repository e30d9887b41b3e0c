// TForm5, the event log window: the day's log live, or an older log file.
//
// The lines belong to the engine; every second the window asks for the ones it does
// not have yet (MainForm::logSnapshot) and appends them. Monitoring goes on while the
// window is open: it is modal to the main window, not to the engine.
//
// A chosen log file is read by the engine too (EngineCommands::readLogFile), the way
// it reads its day files: regular files only, without blocking, at most 16 MiB. The
// window's thread never opens it, so a FIFO or /dev/zero picked in the dialog cannot
// freeze the window; it gets a box saying why the file is not shown.
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

class GuiDialogs;

class TForm5 final : public QDialog {
    Q_OBJECT
public:
    static inline const QString kLiveCaption = QStringLiteral("Event log - Real Time");
    static inline const QString kPausedCaption = QStringLiteral("Event log - Real Time( Paused )");

    // `dialogs` asks for the file and shows why one cannot be shown.
    TForm5(ActionPoster post, GuiDialogs& dialogs, QWidget* parent);
    ~TForm5() override;

    // Asks the engine for a log file (what "View Log File" does after the file dialog)
    // and returns at once. When its lines arrive they replace the text area and the
    // caption names the file; a file that cannot be shown leaves both as they were and
    // a box says why.
    void viewFile(const QString& path);
    // Back to the live day log ("Real Time Log").
    void realTime();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void requestLines(bool restart);
    void applySnapshot(const LogSnapshot& snap, bool restart, int generation);
    void applyFile(const LogFileText& file, const QString& path, int generation);
    void setLive(bool live);
    void chooseFile();

    ActionPoster post_;
    GuiDialogs& dialogs_;
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
