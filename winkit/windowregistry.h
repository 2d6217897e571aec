#pragma once

#include "chargerwindow.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

namespace winkit {

// One registered window.
struct WindowEntry {
    // The window's name in the system: "Chargeur", "Micro", "FEtat", ...
    QString id{};
    // Builds the window (not shown). Empty: the window is not available yet, and opening
    // it says so.
    std::function<ChargerWindow *(const Host &)> make{};
    // Opening it without a connection to the charger shows "Pas de connection avec
    // chargeur" instead.
    bool needsConnection = false;
    // Its opener is hidden while it is open.
    bool hidesOpener = true;
    // It stops the main window's handshake timers as it loads.
    bool stopsMainTimers = false;
    // Windows that close one another ("calibration"); empty for none.
    QString group{};
};

// Every window of pelmora, registered by its subsystem, opened by id from any window, and
// tracked while open: "Quitter" closes them all and a window can close the others of its
// group, with no scan of the application's top-level widgets.
class WindowRegistry : public QObject {
    Q_OBJECT
  public:
    explicit WindowRegistry(chlink::Session *session, QObject *parent = nullptr);

    // The main window's handshake timers, stopped by windows registered to stop them.
    void setMainTimersStopper(std::function<void()> stop) { m_stopMainTimers = std::move(stop); }

    // Registers a window; a second entry with the same id replaces the first.
    void add(WindowEntry entry);
    bool has(const QString &id) const { return find(id) != nullptr; }
    // Registered with a factory (not a placeholder).
    bool available(const QString &id) const;

    // The main window's menu entries open windows without the connection check its
    // buttons make.
    enum class Check { AsRegistered, NoConnectionCheck };
    // Opens window `id` from `from`: nothing for an id nobody registered; the
    // no-connection box when it needs a connection and there is none; the not-available
    // box for a placeholder; otherwise the window is built, tracked (deleted when closed)
    // and loaded. Returns it, or nullptr.
    ChargerWindow *open(const QString &id, QWidget *from, Check check = Check::AsRegistered);

    // The windows open now (not closing), oldest first.
    QList<ChargerWindow *> openWindows() const;
    // The open window of `id`, if any.
    ChargerWindow *openWindow(const QString &id) const;
    // "Quitter": closes every open window, the last opened first. Returns the windows that
    // are still there because an exchange of theirs is inside a wait: they go once it has
    // ended (watch their destroyed()).
    QList<QPointer<QWidget>> closeAll();
    // Closes the open windows of `group` but `keep`.
    void closeGroup(const QString &group, const QWidget *keep = nullptr);

  signals:
    void opened(const QString &id, winkit::ChargerWindow *window);

  private:
    struct Open {
        QString id;
        QString group;
        QPointer<ChargerWindow> window;
    };
    const WindowEntry *find(const QString &id) const;
    std::vector<Open> live() const;

    chlink::Session *m_session;
    std::function<void()> m_stopMainTimers;
    std::vector<WindowEntry> m_entries;
    mutable std::vector<Open> m_open;
};

} // namespace winkit
