#include "link/netaddressprompt.h"

#include "link/mb.h"

#include <QAction>
#include <QInputDialog>
#include <QListWidget>

void installAddressPrompt(TMB& mb, QListWidget* list) {
    auto* action = new QAction(QStringLiteral("Open a network port…"), list);
    action->setObjectName(QStringLiteral("Action_NetworkPort"));
    list->addAction(action);
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    QObject::connect(action, &QAction::triggered, &mb, [&mb] {
        if (mb.MBPortOpen()) return; // the list is for choosing while closed
        QStringList recent;
        for (const std::string& a : mb.MBChannel().recentAddresses)
            recent << QString::fromStdString(a);
        if (recent.isEmpty()) recent << QStringLiteral("rfc2217://");
        // No message window (the panel reports failures itself): a malformed address is asked for again,
        // with the reason above the field.
        QString why, address;
        for (;;) {
            bool ok = false;
            address =
                QInputDialog::getItem(&mb, QStringLiteral("Network port"),
                                      why + QStringLiteral("A serial device server's port:\ntcp://host:port "
                                                           "(raw) or rfc2217://host:port (with the line "
                                                           "settings)"),
                                      recent, 0, true, &ok)
                    .trimmed();
            if (!ok || address.isEmpty()) return;
            if (mb::port::parseNetAddress(address.toStdString())) break;
            why = address + QStringLiteral(" is no network address.\n\n");
            recent.prepend(address);
        }
        mb.MBOpenPort(address);
    });
}
