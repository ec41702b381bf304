#pragma once
// What the added windows see of the main window: the state they read and the events they follow,
// nothing more. The tools include this instead of the main window, so a change there does not
// rebuild them, and they cannot reach into its controls.
#include "app/texts/TextKey.h"
#include "app/tools/Traffic.h"
#include "instrument/exchange.h"

#include <QString>

#include <functional>

class QMenu;
class QMenuBar;
class QObject;
class QWidget;

namespace vx::app::tools {

class ToolHost {
public:
    // The main window itself: the parent of the tools' dialogs, and its width and screen for their
    // placing.
    virtual QWidget* hostWindow() = 0;
    // Where the tools put their menu entries and their status area (the menu bar's corner).
    virtual QMenuBar* toolsMenuBar() const = 0;
    virtual QMenu* toolsMenu() const = 0;

    // The last good reply as decoded.
    virtual const instrument::Reply& lastReply() const = 0;
    // Maker-level access is on.
    virtual bool makerAccess() const = 0;
    // The selected language's name, and a text of the catalogue (texts/TextList.def) in it.
    virtual QString selectedLanguage() const = 0;
    virtual QString inLanguage(Text key) const = 0;
    // The settings write is asked for (its button is down).
    virtual bool settingsWriteDown() const = 0;
    // The settings file the window reads and writes.
    virtual QString settingsPath() const = 0;
    // The port a lost link waits for; empty when none is awaited.
    virtual QString waitingForPort() const = 0;

    // The events, each called for as long as context lives.
    // After every good reply was decoded and shown.
    virtual void onReplyShown(QObject* context, std::function<void()> f) = 0;
    // After the texts of a language were applied.
    virtual void onLanguageApplied(QObject* context, std::function<void()> f) = 0;
    // Each attempt on the link as it ended; the frames are valid only during the call.
    virtual void onLinkExchanged(QObject* context,
                                 std::function<void(const LinkExchange&, bool transactionEnded)> f) = 0;
    // After the port's state changed and the change is complete (called from the event loop).
    virtual void onPortStateChanged(QObject* context, std::function<void()> f) = 0;

protected:
    ~ToolHost() = default;
};

} // namespace vx::app::tools
