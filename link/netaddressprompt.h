#pragma once
// Typing a network port on the link panel: the port list's context menu asks for an address
// (tcp://host:port or rfc2217://host:port, the recent ones offered) and opens it as if picked.
class TMB;
class QListWidget;

void installAddressPrompt(TMB& mb, QListWidget* list);
