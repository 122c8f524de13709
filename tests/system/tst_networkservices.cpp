#include "NetworkServices.h"
#include "TestEnvironment.h"

#include <QProcess>

class NetworkServicesTest : public QObject {
    Q_OBJECT

public:
    explicit NetworkServicesTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void linesAreTrimmedOnlyAtTheEnds() {
        QCOMPARE(listingLines("\n \n"), QStringList{QString()});
        QCOMPARE(listingLines("  a \n\n b\r\nc  \n"), QStringList({"a ", "", " b\r", "c"}));
        QCOMPARE(listingLines("caf\xc3\xa9 \xff"), QStringList{QStringLiteral(u"café \uFFFD")});
    }

    void discoveryThroughTheRealPipelinesAndHelper() {
        // The built helper on a fake sysfs: the routed wired port first, then two Wi-Fi.
        const QString root = m_environment.path(QStringLiteral("net"));
        const auto layOut = [&root](const char *script) {
            return QProcess::execute(
                QStringLiteral("bash"),
                {QStringLiteral("-euc"), QStringLiteral("source \"$1\"; ") + QLatin1String(script),
                 QStringLiteral("layout"), QStringLiteral(ZENTREL_TESTS_DIR "/support/testlib.sh"),
                 root});
        };
        QCOMPARE(layOut("add_iface $2/sys enp3s0 ethernet; add_iface $2/sys wlan0 wifi;"
                        "add_iface $2/sys wlan1 wifi; set_routes $2/proc enp3s0:100"),
                 0);
        qputenv("ZENTREL_SYSFS_ROOT", QFile::encodeName(root + QStringLiteral("/sys")));
        qputenv("ZENTREL_PROC_NET_ROOT", QFile::encodeName(root + QStringLiteral("/proc")));
        m_environment.removeTool(QStringLiteral("networksetup"));
        QVERIFY(QFile::link(QStringLiteral(ZENTREL_HELPER_PATH),
                            QDir(m_environment.binDirectory()).filePath("networksetup")));
        QCOMPARE(defaultNetworkService(), QStringLiteral("Wi-Fi"));
        QCOMPARE(listNetworkServices(), QStringList({"Ethernet", "Wi-Fi", "Wi-Fi 2"}));
        QCOMPARE(layOut("set_routes $2/proc wlan1:50"), 0); // the routed Wi-Fi comes first
        QCOMPARE(defaultNetworkService(), QStringLiteral("Wi-Fi 2"));
        QCOMPARE(layOut("rm $2/sys/class/net/wlan*"), 0);
        QCOMPARE(defaultNetworkService(), QString());
        QCOMPARE(layOut("rm $2/sys/class/net/enp3s0"), 0);
        QCOMPARE(listNetworkServices(), QStringList{QString()});
    }

    void missingToolGivesTheShellsMessage() {
        m_environment.removeTool(QStringLiteral("networksetup"));
        qputenv("PATH", QFile::encodeName(m_environment.binDirectory()) + ":/usr/bin:/bin");
        QVERIFY(defaultNetworkService().contains(QLatin1String("networksetup: command not found")));
    }

private:
    TestEnvironment &m_environment;
};

ZENTREL_TEST_MAIN(NetworkServicesTest, QCoreApplication)
#include "tst_networkservices.moc"
