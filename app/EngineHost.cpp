#include "app/EngineHost.h"

namespace raid {

EngineHost::EngineHost(std::unique_ptr<Scheduler> scheduler, FormFactory factory)
    : scheduler_(std::move(scheduler)), factory_(std::move(factory)) {}

EngineHost::~EngineHost() { stop(); }

void EngineHost::start(DialogPort& dialogs) {
    if (thread_.joinable()) return;
    DialogPort* d = &dialogs;
    thread_ = std::thread([this, d] {
        scheduler_->adoptCurrentThread();
        form_ = factory_(*scheduler_, controls_, *d);
        if (!form_) {
            // Nothing to run: let the program end instead of waiting for an engine.
            if (onQuit) onQuit();
            return;
        }
        // An exception escaping a handler is shown and the program goes on.
        MainForm* form = form_.get();
        scheduler_->setExceptionHandler([form](const std::string& what) { form->messageBox(what, ""); });
        if (onQuit) form_->onQuit = onQuit;
        if (onShowLogWindow) form_->logWindow().onShow = onShowLogWindow;
        if (onShowHistoryWindow) form_->historyWindow().onShow = onShowHistoryWindow;
        if (onHistoryChart) form_->historyWindow().onChart = onHistoryChart;
        if (historySource) form_->historyWindow().setSource(historySource);
        // The factory's tool may already watch alerts (raid-gui-sim prints them): it
        // keeps its handler, the window's watcher comes after it.
        if (onAlert) {
            form_->onAlertRaised = [form, previous = std::move(form_->onAlertRaised), watcher = onAlert](
                                       int kind, int device, int port) {
                if (previous) previous(kind, device, port);
                watcher(form->alerts().AlertInfoLines);
            };
        }
        // A client window's alerts are the service's; they reach the same watcher.
        if (onAlert && form_->serviceFeed()) form_->serviceFeed()->onAlert = onAlert;
        form_->FormCreate();
        if (onHintHidePause) onHintHidePause(form_->HintHidePause);
        if (onCreated) onCreated(*form_);
        controls_.broadcastAll();
        scheduler_->run();
        // Workers use the form: they stop (a running detection pass completes) before
        // the form goes with the engine thread that made it.
        scheduler_->joinWorkers();
        eventLogLoss_ = form_->eventLog().saveAtExit();
        form_.reset();
    });
}

void EngineHost::post(std::function<void(MainForm&)> action) {
    scheduler_->post([this, action = std::move(action)] {
        if (form_) action(*form_);
    });
}

void EngineHost::command(std::function<void(EngineCommands&)> action) {
    scheduler_->post([this, action = std::move(action)] {
        if (form_) action(*form_);
    });
}

void EngineHost::stop() {
    if (!thread_.joinable()) return;
    scheduler_->quit();
    thread_.join();
}

}  // namespace raid
