// What the window hands to the engine: an action on the engine's command interface,
// queued for the engine thread (EngineHost::command).
#pragma once

#include <functional>

#include "app/EngineCommands.h"

namespace raid::win {

using EngineAction = std::function<void(EngineCommands&)>;
using ActionPoster = std::function<void(EngineAction)>;

}  // namespace raid::win
