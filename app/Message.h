#pragma once

#include <QString>

#include <functional>

inline constexpr char kAppTitle[] = "Tavrin";

// Every message of the program: the text, an OK button only, no icon and the
// application's title as caption. Returns when the user has closed it.
void ShowMessage(const QString &text);

// Tests put their own recorder here; an empty handler restores the box.
void SetMessageHandler(std::function<void(const QString &)> handler);
