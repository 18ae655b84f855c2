#pragma once

#include "controller/TrelkComponent.h"

#include <memory>

// The component that TAVRIN_CONTROLLER names: on Windows "component" (the
// default) for the registered control; "accept" (the default elsewhere),
// "refuse" or "silent" for the simulated controller. Any other value throws
// TrelkError naming the accepted ones.
std::unique_ptr<TrelkComponent> CreateTrelk1();
