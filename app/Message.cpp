#include "Message.h"

#include <QApplication>
#include <QMessageBox>

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
    box.exec();
}
