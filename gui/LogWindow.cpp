#include "gui/LogWindow.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QStringList>
#include <QVBoxLayout>

#include "gui/GuiDialogs.h"

namespace raid::gui {

TForm5::TForm5(ActionPoster post, GuiDialogs& dialogs, QWidget* parent)
    : QDialog(parent), post_(std::move(post)), dialogs_(dialogs) {
    setObjectName(qname(names::TForm5));
    setWindowTitle(QStringLiteral("Event Log"));
    setWindowModality(Qt::WindowModal);
    resize(600, 420);

    text_ = new QPlainTextEdit(this);
    text_->setObjectName(qname(names::LogText));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    mono.setPixelSize(12);
    text_->setFont(mono);
    normal_ = text_->palette();

    realTime_ = new QPushButton(QStringLiteral("Real Time Log"), this);
    realTime_->setObjectName(qname(names::RealTimeLog));
    viewFile_ = new QPushButton(QStringLiteral("View Log File"), this);
    viewFile_->setObjectName(qname(names::ViewLogFile));
    connect(realTime_, &QPushButton::clicked, this, &TForm5::realTime);
    connect(viewFile_, &QPushButton::clicked, this, &TForm5::chooseFile);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(realTime_);
    buttons->addWidget(viewFile_);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(buttons);

    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, [this] { requestLines(false); });
}

TForm5::~TForm5() = default;

void TForm5::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    if (started_) return;
    started_ = true;
    realTime();
}

void TForm5::realTime() {
    timer_->stop();
    ++generation_;
    requestLines(true);
    timer_->start();
}

void TForm5::requestLines(bool restart) {
    if (!post_ || (asking_ && !restart)) return;
    asking_ = true;
    const std::size_t from = restart ? 0 : have_;
    const int generation = generation_;
    // The window may be closed (and deleted) before the engine answers, e.g. Escape
    // right after opening it: the answer goes to the application object, which lives
    // as long as the program, and reaches the window only if it is still there. The
    // engine thread never touches the window itself.
    QPointer<TForm5> window(this);
    post_([window, from, restart, generation](EngineCommands& f) {
        LogSnapshot snap = f.logSnapshot(from);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [window, snap = std::move(snap), restart, generation] {
                if (window) window->applySnapshot(snap, restart, generation);
            },
            Qt::QueuedConnection);
    });
}

void TForm5::applySnapshot(const LogSnapshot& snap, bool restart, int generation) {
    asking_ = false;
    // A file was opened after this request left: the file stays on screen.
    if (generation != generation_) return;
    setLive(snap.live);
    // While paused only the caption and colour follow; the lines wait for live
    // monitoring to resume (a restart shows everything there is).
    if (!snap.live && !restart) return;
    if (restart || snap.restart) text_->clear();
    for (const std::string& line : snap.lines) text_->appendPlainText(QString::fromStdString(line));
    have_ = snap.total;
}

void TForm5::setLive(bool live) {
    setWindowTitle(live ? kLiveCaption : kPausedCaption);
    QPalette pal = normal_;
    if (!live) pal.setColor(QPalette::Text, QColor(0x80, 0x80, 0x80));
    text_->setPalette(pal);
}

void TForm5::chooseFile() {
    timer_->stop();
    std::string path;
    if (!dialogs_.chooseFile("Log File (*.log)|*.log|All File (*)|*", path)) return;
    viewFile(QString::fromStdString(path));
}

void TForm5::viewFile(const QString& path) {
    timer_->stop();
    const int generation = ++generation_;
    if (!post_) return;
    TForm5* context = this;
    post_([context, path, generation](EngineCommands& f) {
        LogFileText file = f.readLogFile(path.toStdString());
        // Dropped by Qt if the window has gone meanwhile.
        QMetaObject::invokeMethod(
            context, [context, file = std::move(file), path, generation] { context->applyFile(file, path, generation); },
            Qt::QueuedConnection);
    });
}

void TForm5::applyFile(const LogFileText& file, const QString& path, int generation) {
    // "Real Time Log" or another file came after this request: that one is shown.
    if (generation != generation_) return;
    if (!file.ok) {
        dialogs_.messageBox(file.problem, "Event Log", DialogPort::OkOnly);
        return;
    }
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(file.lines.size()));
    for (const std::string& line : file.lines) lines << QString::fromStdString(line);
    text_->setPalette(normal_);
    text_->setPlainText(lines.join(QLatin1Char('\n')));
    setWindowTitle(QStringLiteral("Event log - ") + QFileInfo(path).fileName());
}

}  // namespace raid::gui
