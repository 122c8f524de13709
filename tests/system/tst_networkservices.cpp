#include "NetworkServices.h"
#include "TestEnvironment.h"

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

    void discoveryThroughTheRealPipelines() {
        QCOMPARE(defaultServicePipeline,
                 QStringLiteral("networksetup -listnetworkserviceorder | grep -B1 'Hardware Port: "
                                "Wi-Fi' | sed -n -e 's/([0-9]\\{1,\\}) \\(.*\\)/\\1/p'"));
        QCOMPARE(serviceListPipeline, QStringLiteral("networksetup -listnetworkserviceorder | sed "
                                                     "-n -e 's/([0-9]\\{1,\\}) \\(.*\\)/\\1/p'"));
        // Wi-Fi after Ethernet, the first of two wins; a service without a name keeps its place.
        m_environment.installTool(
            QStringLiteral("networksetup"),
            "[ \"$1\" = -listnetworkserviceorder ] && printf '%s\\n' 'An asterisk (*) denotes "
            "that a network service is disabled.' '(1) Ethernet' '(Hardware Port: Ethernet, "
            "Device: en0)' '' '(2) Home Wi-Fi (2.4 GHz)' '(Hardware Port: Wi-Fi, Device: en1)' '' "
            "'(3) ' '(Hardware Port: Ethernet, Device: en2)' '' '(4) Wi-Fi 2' '(Hardware Port: "
            "Wi-Fi, Device: en3)'\n");
        QCOMPARE(defaultNetworkService(), QStringLiteral("Home Wi-Fi (2.4 GHz)"));
        QCOMPARE(listNetworkServices(),
                 QStringList({"Ethernet", "Home Wi-Fi (2.4 GHz)", "", "Wi-Fi 2"}));
        m_environment.installTool(QStringLiteral("networksetup"), "exit 0\n");
        QCOMPARE(defaultNetworkService(), QString());
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
