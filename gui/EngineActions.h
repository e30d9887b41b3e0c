// What the window hands to the engine: an action on the engine's command interface,
// queued for the engine thread.
#pragma once

#include <QString>
#include <functional>

#include "app/ControlNames.h"
#include "app/EngineCommands.h"

namespace raid::gui {

using EngineAction = std::function<void(EngineCommands&)>;
// Queues an action for the engine thread (EngineHost::command in the program).
using ActionPoster = std::function<void(EngineAction)>;

inline QString qname(const char* name) { return QString::fromLatin1(name); }
inline QString qname(const std::string& name) { return QString::fromStdString(name); }

}  // namespace raid::gui
