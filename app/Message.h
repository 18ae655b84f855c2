#pragma once

#include <QString>

#include <functional>

class QWidget;

inline constexpr char kAppTitle[] = "Tavrin";

// Every message of the program: the text, an OK button only, no icon and the
// application's title as caption. Returns when the user has closed it. Each
// text is also logged under the category "tavrin.message" (off by default).
void ShowMessage(const QString &text);

// The window that message boxes belong to while it is shown.
void SetMessageOwner(QWidget *owner);

// Tests put their own recorder here; an empty handler restores the box.
void SetMessageHandler(std::function<void(const QString &)> handler);
