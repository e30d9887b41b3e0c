#include "gui/GuiApp.h"

#include <QApplication>
#include <QMetaObject>

#include "gui/Artwork.h"
#include "gui/ControlBridge.h"
#include "gui/DesktopNotifier.h"
#include "gui/GuiDialogs.h"
#include "gui/HistoryWindow.h"
#include "gui/LogWindow.h"
#include "gui/MainWindow.h"
#include "gui/ServiceClient.h"
#include "gui/SessionEnd.h"

namespace raid::gui {

GuiSession::GuiSession(EngineHost& host) : host_(host) {
    ActionPoster post = [&host](EngineAction action) { host.command(std::move(action)); };
    dialogs_ = std::make_unique<GuiDialogs>();
    window_ = std::make_unique<TForm1>(post);
    // The application's other two forms, created after the main window in this order:
    // the event log form (each opening of the log makes its own window, see
    // showLogWindow) and the hidden mail form. Both stay hidden shells here.
    for (const char* name : {names::TForm5, names::TForm7}) {
        auto form = std::make_unique<QWidget>();
        form->setObjectName(QString::fromLatin1(name));
        form->hide();
        shells_.push_back(std::move(form));
    }
    dialogs_->setWindow(window_.get());
    sessionEnd_ = std::make_unique<SessionEnd>(post, [&host] { return host.running(); });
    bridge_ = ControlBridge::attach(host.controls(), *window_);
    // Called on the engine thread; the program ends on the window's thread.
    TForm1* context = window_.get();
    host.onQuit = [this, context] {
        QMetaObject::invokeMethod(context, [this] { quitRequested(); }, Qt::QueuedConnection);
    };
    host.onShowLogWindow = [this, context] {
        QMetaObject::invokeMethod(context, [this] { showLogWindow(); }, Qt::QueuedConnection);
    };
    host.onShowHistoryWindow = [this, context] {
        QMetaObject::invokeMethod(context, [this] { showHistoryWindow(); }, Qt::QueuedConnection);
    };
    host.onHistoryChart = [this, context](const HistoryChart& chart) {
        QMetaObject::invokeMethod(context, [this, chart] { showHistoryChart(chart); }, Qt::QueuedConnection);
    };
    host.onHintHidePause = [context](int ms) {
        QMetaObject::invokeMethod(context, [context, ms] { context->setHintHidePause(ms); }, Qt::QueuedConnection);
    };
    // Alerts arrive on the engine thread; the notifier lives on the window's and makes
    // its D-Bus call from there, so the engine never waits on the desktop.
    notifier_ = std::make_unique<DesktopNotifier>();
    DesktopNotifier* notifier = notifier_.get();
    host.onAlert = [notifier](const std::vector<std::string>& lines) { notifier->post(lines); };
}

GuiSession::~GuiSession() {
    // Nothing more is posted to an engine that is about to stop.
    service_.reset();
    // An engine waiting for a box would never see it answered now: release it first,
    // then the engine can be stopped and joined.
    dialogs_->shutdown();
    host_.stop();
    bridge_->detach();
    host_.onQuit = nullptr;
    host_.onShowLogWindow = nullptr;
    host_.onShowHistoryWindow = nullptr;
    host_.onHistoryChart = nullptr;
    host_.onHintHidePause = nullptr;
    host_.onAlert = nullptr;
}

void GuiSession::start() {
    window_->show();
    host_.start(*dialogs_);
}

void GuiSession::attachService(ServiceLink& link, const QString& address) {
    service_ = std::make_unique<ServiceClient>(host_, link, address);
    service_->start();
}

TForm5* GuiSession::logWindow() const { return logWindow_.data(); }

void GuiSession::showLogWindow() {
    ActionPoster post = [this](EngineAction action) { host_.command(std::move(action)); };
    if (logWindow_) {
        logWindow_->raise();
        logWindow_->activateWindow();
        return;
    }
    auto* log = new TForm5(post, *dialogs_, window_.get());
    log->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(log, &QDialog::finished, window_.get(), [post] { post([](EngineCommands& f) { f.LogWindowClosed(); }); });
    logWindow_ = log;
    log->show();
}

HistoryWindow* GuiSession::historyWindow() const { return historyWindow_.data(); }

void GuiSession::showHistoryWindow() {
    if (historyWindow_) {
        historyWindow_->raise();
        historyWindow_->activateWindow();
        return;
    }
    ActionPoster post = [this](EngineAction action) { host_.command(std::move(action)); };
    // Not modal: polling and the main window go on while the chart is looked at.
    auto* chart = new HistoryWindow(post, window_.get());
    chart->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(chart, &QDialog::finished, window_.get(),
                     [post] { post([](EngineCommands& f) { f.HistoryWindowClosed(); }); });
    historyWindow_ = chart;
    chart->show();
}

void GuiSession::showHistoryChart(const HistoryChart& chart) {
    // A chart on its way when the window closed finds no window.
    if (historyWindow_) historyWindow_->setChart(chart);
}

void GuiSession::quitRequested() {
    // Qt closes every window before it quits, and the window refuses closes it was not
    // told about; this one is granted.
    window_->allowClose();
    if (quitHandler_)
        quitHandler_();
    else
        QCoreApplication::quit();
}

int runWindow(int& argc, char** argv, EngineHost& host, const ServiceOptions& service) {
    QApplication app(argc, argv);
    // No application display name: Qt would append it to every window caption, and
    // the caption is exactly what the engine says ("RAID GUI v0.23.7-3").
    QApplication::setWindowIcon(Artwork::icon());
    // Only the engine ends the program; a closed message box or a refused close must
    // never take the application down with it.
    QApplication::setQuitOnLastWindowClosed(false);
    int rc = 0;
    {
        GuiSession session(host);
        session.start();
        if (service.link) session.attachService(*service.link, service.busAddress);
        rc = QApplication::exec();
    }
    return rc;
}

}  // namespace raid::gui
