#include "link/netaddressprompt.h"

#include "link/mb.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

QAction* installAddressPrompt(TMB& mb, QListWidget* list) {
    auto* action = new QAction(QStringLiteral("Open a network port…"), list);
    action->setObjectName(QStringLiteral("Action_NetworkPort"));
    list->addAction(action);
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    QObject::connect(&mb.session(), &TPortSession::stateChanged, action, [action](TPortSession::State s) {
        action->setEnabled(s == TPortSession::State::Closed);
    });
    QObject::connect(action, &QAction::triggered, &mb, [&mb] {
        // The list is for choosing while closed.
        if (mb.session().state() != TPortSession::State::Closed) return;
        QStringList recent;
        for (const std::string& a : mb.MBChannel().recentAddresses)
            recent << QString::fromStdString(a);
        if (recent.isEmpty()) recent << QStringLiteral("rfc2217://");
        // No message window (the panel reports failures itself): a malformed address is asked for again,
        // with the reason above the field. Everything is in place before the dialog shows.
        QString why, address;
        for (;;) {
            QDialog d(&mb);
            d.setObjectName(QStringLiteral("Dialog_NetworkPort"));
            d.setWindowTitle(QStringLiteral("Network port"));
            auto* box = new QVBoxLayout(&d);
            box->setSizeConstraint(QLayout::SetNoConstraint); // sized once, by its contents at showing
            box->addWidget(
                new QLabel(why + QStringLiteral("A serial device server's port:\ntcp://host:port (raw) "
                                                "or rfc2217://host:port (with the line settings)"),
                           &d));
            auto* field = new QComboBox(&d);
            field->setObjectName(QStringLiteral("ComboBox_NetworkPort"));
            field->setEditable(true);
            field->addItems(recent);
            box->addWidget(field);
            auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
            QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
            QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
            box->addWidget(buttons);
            if (d.exec() != QDialog::Accepted) return;
            address = field->currentText().trimmed();
            if (address.isEmpty()) return;
            if (mb::port::parseNetAddress(address.toStdString())) break;
            why = address + QStringLiteral(" is no network address.\n\n");
            recent.prepend(address);
        }
        // The connect goes on behind the window; the panel shows how it ends.
        mb.session().beginOpenPort(address);
    });
    return action;
}
