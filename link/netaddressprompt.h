#pragma once
// Typing a network port on the link panel: the port list's context menu asks for an address
// (tcp://host:port or rfc2217://host:port, the recent ones offered) and opens it as if picked, without
// waiting for the connect. The action returned may be offered elsewhere too (a window's menu); it is
// enabled while the port is closed.
class TMB;
class QAction;
class QListWidget;

QAction* installAddressPrompt(TMB& mb, QListWidget* list);
