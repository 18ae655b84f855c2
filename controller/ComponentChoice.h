#pragma once

#include "controller/TrelkComponent.h"

#include <QString>

#include <memory>

// The component that a choice (the program's TAVRIN_CONTROLLER) names: on
// Windows "component" (the default) for the registered control; "accept" (the
// default elsewhere), "refuse" or "silent" for the simulated controller. Any
// other value throws TrelkError naming the accepted ones.
std::unique_ptr<TrelkComponent> CreateTrelk1(const QString &choice);
