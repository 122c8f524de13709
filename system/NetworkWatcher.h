#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

// The way out as the kernel routes it: the interface that carries the default route, its
// gateway, and that interface's addresses.
struct NetworkPath {
    bool hasDefaultRoute = false;
    int interfaceIndex = 0;
    QByteArray gateway;
    QList<QByteArray> addresses; // sorted; link-local ones left out

    bool operator==(const NetworkPath &other) const {
        return hasDefaultRoute == other.hasDefaultRoute && interfaceIndex == other.interfaceIndex &&
               gateway == other.gateway && addresses == other.addresses;
    }
};

enum class NetworkChange {
    None,
    Lost,     // no default route any more
    Returned, // a default route again
    Changed,  // another interface or gateway, or an address the tunnel may use is gone
};

// How the way out changed between two readings. Addresses that only appear (a new IPv6
// privacy address, say) break no connection and are no change.
NetworkChange networkChangeBetween(const NetworkPath &before, const NetworkPath &after);

// Reads the current way out from the kernel (rtnetlink). Without a kernel that answers, the
// path reads as having a default route, so that nothing waits for a network forever.
NetworkPath readNetworkPath();

// Reports changes of the default route and of the addresses of the interface carrying it, as
// the kernel announces them over rtnetlink: with or without NetworkManager, and inside a
// network namespace too. It only reports; what to do is decided elsewhere.
class NetworkWatcher : public QObject {
    Q_OBJECT

public:
    explicit NetworkWatcher(QObject *parent = nullptr);
    ~NetworkWatcher() override;

    bool isNetworkUp() const { return m_current.hasDefaultRoute; }

signals:
    void changed(NetworkChange change);

private:
    void onAnnouncement();
    void reread();

    int m_socket = -1;
    QTimer m_settle; // announcements come in bursts: read once they have settled
    NetworkPath m_current;
};
