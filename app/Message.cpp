#include "app/Message.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QIcon>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSpacerItem>

Q_LOGGING_CATEGORY(lcMessage, "tavrin.message", QtWarningMsg)

static std::function<void(const QString &)> &messageHandler()
{
    static std::function<void(const QString &)> handler;
    return handler;
}

static QPointer<QWidget> &messageOwner()
{
    static QPointer<QWidget> owner;
    return owner;
}

void SetMessageHandler(std::function<void(const QString &)> handler)
{
    messageHandler() = std::move(handler);
}

void SetMessageOwner(QWidget *owner)
{
    messageOwner() = owner;
}

// A title bar needs room for the caption besides its icon and buttons, or a
// window manager shortens "Tavrin" to "...".
static void makeRoomForTitle(QMessageBox &box)
{
    auto *grid = qobject_cast<QGridLayout *>(box.layout());
    if (!grid)
        return;
    const QFontMetrics metrics(QApplication::font("QMdiSubWindowTitleBar"));
    const int width = metrics.horizontalAdvance(box.windowTitle()) + 8 * metrics.height() + 40;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0, 1,
                  grid->columnCount());
}

void ShowMessage(const QString &text)
{
    qCInfo(lcMessage).noquote() << text;
    if (messageHandler()) {
        messageHandler()(text);
        return;
    }
    // Owned by the editor window while it is shown, so that focus returns to
    // it; a box without an owner would also be centred on the screen.
    QWidget *owner = messageOwner();
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok,
                    owner && owner->isVisible() ? owner : nullptr);
    box.button(QMessageBox::Ok)->setIcon(QIcon()); // some styles decorate OK
    makeRoomForTitle(box);
    box.exec();
}
