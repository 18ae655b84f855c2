#pragma once

#include "controller/TrelkComponent.h"

#include <QString>

#include <memory>

// The program's component. On Windows always the registered control: a
// simulated one there, chosen by a variable left set after a test, would let
// every Apply succeed with nothing reaching the controller. Elsewhere, where
// no control exists, the simulated controller that TAVRIN_CONTROLLER names.
std::unique_ptr<TrelkComponent> CreateTrelk1();

// The simulated controller that a choice names: "accept" (also the empty
// choice), "refuse" or "silent". Any other value throws TrelkError naming them.
std::unique_ptr<TrelkComponent> CreateSimulatedTrelk1(const QString &choice);
