#include "gui/ControlBridge.h"

#include <QMetaObject>

#include "gui/MainWindow.h"

namespace raid::gui {

std::shared_ptr<ControlBridge> ControlBridge::attach(Controls& controls, TForm1& window) {
    auto bridge = std::make_shared<ControlBridge>();
    bridge->window_ = &window;
    // The listener keeps the bridge alive: Controls has no way to remove a listener,
    // and a late change after detach() must find a valid, empty bridge.
    controls.addListener([bridge](const ControlChange& change) { bridge->deliver(change); });
    return bridge;
}

void ControlBridge::detach() {
    std::lock_guard<std::mutex> lock(mu_);
    window_ = nullptr;
}

void ControlBridge::deliver(const ControlChange& change) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!window_) return;
    // The window is the context object: should it be destroyed with the change still
    // queued, Qt drops the call instead of running it on a dead window.
    TForm1* window = window_;
    QMetaObject::invokeMethod(
        window, [window, change] { window->applyChange(change); }, Qt::QueuedConnection);
}

}  // namespace raid::gui
