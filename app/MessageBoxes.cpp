#include "app/MessageBoxes.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QIcon>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPushButton>
#include <QSpacerItem>

Q_LOGGING_CATEGORY(lcMessage, "tavrin.message", QtWarningMsg)

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

void MessageBoxes::show(const QString &text) const
{
    qCInfo(lcMessage).noquote() << text;
    QWidget *owner = m_owner;
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok,
                    owner && owner->isVisible() ? owner : nullptr);
    box.button(QMessageBox::Ok)->setIcon(QIcon()); // some styles decorate OK
    makeRoomForTitle(box);
    box.exec();
}
