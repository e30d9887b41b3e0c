// Click handlers by control name. Each page registers its own; a name registered twice
// is a programming error and refused.
#pragma once

#include <functional>
#include <map>
#include <stdexcept>
#include <string>

#include "app/ControlNames.h"

namespace raid {

class HandlerTable {
public:
    using Handler = std::function<void()>;
    void on(const std::string& control, Handler handler) {
        if (!names::known(control)) throw std::invalid_argument("handler for unknown control " + control);
        if (!table_.emplace(control, std::move(handler)).second)
            throw std::invalid_argument("second handler for " + control);
    }
    // Runs the control's handler; false when it has none.
    bool dispatch(const std::string& control) const {
        auto it = table_.find(control);
        if (it == table_.end()) return false;
        it->second();
        return true;
    }

private:
    std::map<std::string, Handler> table_;
};

}  // namespace raid
