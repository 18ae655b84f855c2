#pragma once

#include "controller/TrelkForm.h"

#include <functional>

class Tavrin;

// What a test program changes about the program; empty members keep the
// program's own choice.
struct StartupOptions {
    // The controller component; by default the program's own (CreateTrelk1).
    TrelkForm::ComponentFactory createTrelk1;
    // Where messages go; by default message boxes owned by the window.
    ShowMessage showMessage;
    // The settings file; by default the controller's.
    QString settingsFilePath;
    // Called once the window is made, before it is shown.
    std::function<void(Tavrin &window)> windowMade;
};

// The program: opens the editor on the controller's settings file and runs
// until the window is closed, which ends the process. Returns 2 without a
// display to open the window on.
int runTavrin(int argc, char **argv, const StartupOptions &options = {});
