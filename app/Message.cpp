#include "Message.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

static std::function<void(const QString &)> &messageHandler()
{
    static std::function<void(const QString &)> handler;
    return handler;
}

void SetMessageHandler(std::function<void(const QString &)> handler)
{
    messageHandler() = std::move(handler);
}

void ShowMessage(const QString &text)
{
    if (messageHandler()) {
        messageHandler()(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.button(QMessageBox::Ok)->setIcon(QIcon()); // some styles decorate OK
    box.exec();
}
