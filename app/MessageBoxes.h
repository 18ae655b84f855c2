#pragma once

#include "controller/TrelkForm.h"

#include <QPointer>
#include <QString>
#include <QWidget>

inline constexpr char kAppTitle[] = "Tavrin";

// The program's message boxes: the text, an OK button only, no icon and the
// application's title as caption. Each text is also logged under the category
// "tavrin.message" (off by default).
class MessageBoxes
{
public:
    // Boxes belong to the owner while it is shown, so that focus returns to
    // it; a box without an owner is centred on the screen.
    void setOwner(QWidget *owner) { m_owner = owner; }

    // Returns when the user has closed the box.
    void show(const QString &text) const;
    // The same, for the objects that show messages.
    ShowMessage showMessage() const
    {
        return [this](const QString &text) { show(text); };
    }

private:
    QPointer<QWidget> m_owner;
};
