#include "NetworkWatcher.h"

#include <QtTest>

#include <cstdlib>
#include <sched.h>

namespace {
const QByteArray onTheLink("\x0a\x01\x00\x09", 4);

bool ip(const char *arguments) {
    return std::system((QByteArray("ip ") + arguments).constData()) == 0;
}
} // namespace

class NetworkWatcherTest : public QObject {
    Q_OBJECT

private slots:
    // The kernel's own answers, in a network namespace of the test's own: a veth pair v0
    // (10.1.0.1/24) and v1, with routes and rules as laptops and VPNs set them.
    void theKernelsRouteFollowsRulesTablesMultipathAndCarrier() {
        QVERIFY2(unshare(CLONE_NEWNET) == 0, "needs root");
        QVERIFY(ip("link add v0 type veth peer name v1") && ip("link set v1 up") &&
                ip("address add 10.1.0.1/24 dev v0") && ip("link set v0 up"));
        QTRY_VERIFY(readNetworkPath(onTheLink).reachable); // once v0 has its carrier
        QVERIFY(readNetworkPath(onTheLink).gateway.isEmpty());
        QVERIFY(!readNetworkPath().reachable); // no default route, IPv4 or IPv6

        // Multiple next hops are the reconnect test's (tst_reconnect_e2e).
        QVERIFY(ip("route add default via 10.1.0.4 table 51820") &&
                ip("rule add not fwmark 51820 table 51820"));
        QCOMPARE(readNetworkPath().gateway, QByteArray("\x0a\x01\x00\x04", 4));
        QVERIFY(ip("route add unreachable 192.0.2.0/24 table 51820"));
        QVERIFY(!readNetworkPath().reachable);
        QVERIFY(ip("-6 address add 2001:db8:1::1/64 dev v0 nodad") &&
                ip("-6 route add default via 2001:db8:1::2 dev v0"));
        QVERIFY(readNetworkPath().reachable); // IPv6 when IPv4 has no way

        NetworkWatcher watcher; // another destination is no change, unless it has no route
        QSignalSpy changes(&watcher, &NetworkWatcher::changed);
        watcher.setDestination(QByteArray(10, '\0') + "\xff\xff\x0a\x01\x00\x09");
        QVERIFY(watcher.isNetworkUp() && changes.isEmpty());
        QVERIFY(ip("-6 route add blackhole 2020::/16"));
        watcher.setDestination(QByteArray(16, '\x20')); // 2020::/16
        QCOMPARE(changes.value(0).value(0).value<NetworkChange>(), NetworkChange::Lost);

        QVERIFY(ip("link set v1 down")); // v0 loses its carrier; its routes stay
        QTRY_VERIFY(!readNetworkPath(onTheLink).reachable);
    }
};

QTEST_GUILESS_MAIN(NetworkWatcherTest)
#include "tst_networkwatcher.moc"
