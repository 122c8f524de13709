#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

// The way to a destination as the kernel routes it (rules, tables, multipath and all): whether
// there is one, the interface and gateway it leaves by, and that interface's addresses.
struct NetworkPath {
    bool reachable = false;
    int interfaceIndex = 0;
    QByteArray gateway;
    QList<QByteArray> addresses; // sorted; link-local ones left out

    bool operator==(const NetworkPath &other) const {
        return reachable == other.reachable && interfaceIndex == other.interfaceIndex &&
               gateway == other.gateway && addresses == other.addresses;
    }
};

enum class NetworkChange {
    None,
    Lost,     // no route to the destination any more
    Returned, // a route to it again
    Changed,  // another interface or gateway, or an address the tunnel may use is gone
};

// How the way out changed between two readings. Addresses that only appear (a new IPv6
// privacy address, say) break no connection and are no change.
NetworkChange networkChangeBetween(const NetworkPath &before, const NetworkPath &after);

// Asks the kernel (rtnetlink) for the route to `destination`, 4 or 16 bytes in network order,
// as `ip route get` does. Without a destination, a documentation address stands for "anywhere":
// 192.0.2.1, or 2001:db8::1 when IPv4 has no route. A route whose interface has no carrier is
// no route. Without a kernel that answers, the path reads as reachable, so that nothing waits
// for a network forever.
NetworkPath readNetworkPath(const QByteArray &destination = {});

// Reports changes of the route to the destination and of the addresses of the interface it
// leaves by, as the kernel announces them over rtnetlink: with or without NetworkManager, and
// inside a network namespace too. It only reports; what to do is decided elsewhere.
class NetworkWatcher : public QObject {
    Q_OBJECT

public:
    explicit NetworkWatcher(QObject *parent = nullptr);
    ~NetworkWatcher() override;

    bool isNetworkUp() const { return m_current.reachable; }

public slots:
    // The address the tunnel's ssh is connected to (4 or 16 bytes, network order; an IPv4
    // address mapped into IPv6 counts as IPv4); anything else goes back to "anywhere". The path
    // is read again at once; losing the route by it is reported, nothing else is.
    void setDestination(const QByteArray &address);

signals:
    void changed(NetworkChange change);

private:
    enum class Reading { Early, Settled }; // on an announcement, or once a burst has settled
    void onAnnouncement();
    void reread(Reading reading);

    int m_socket = -1;
    QTimer m_settle; // restarted by every announcement of a burst
    QByteArray m_destination;
    NetworkPath m_current;
};
