// The message box port lives with the other ports; the engine's units include it here.
#pragma once

#include "platform/DialogPort.h"
