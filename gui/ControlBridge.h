// Carries the engine's control changes to the window.
//
// The Controls listener runs on the engine thread, synchronously inside each change.
// It copies the change and queues it to the window's thread, so the engine never
// waits for painting and the widgets are only touched by their own thread.
#pragma once

#include <memory>
#include <mutex>

#include "app/Controls.h"

namespace raid::gui {

class TForm1;

class ControlBridge {
public:
    // Registers a listener on `controls` that delivers every change to `window`.
    // Call before the engine starts, so the window sees the state from the first change.
    static std::shared_ptr<ControlBridge> attach(Controls& controls, TForm1& window);

    // From now on changes are dropped (the window is about to go). Any thread.
    void detach();

    // Engine thread: queue one change for the window.
    void deliver(const ControlChange& change);

private:
    std::mutex mu_;
    TForm1* window_ = nullptr;
};

}  // namespace raid::gui
