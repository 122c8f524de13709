#include "NetworkServices.h"
#include "TestEnvironment.h"

namespace {
QByteArray listing(const QList<QPair<QByteArray, QByteArray>> &services) {
    QByteArray text = "An asterisk (*) denotes that a network service is disabled.\n";
    int order = 1;
    for (const auto &[name, port] : services) {
        text += "(" + QByteArray::number(order++) + ") " + name + "\n";
        text += "(Hardware Port: " + port + ", Device: en" + QByteArray::number(order) + ")\n\n";
    }
    return text;
}
} // namespace

class NetworkServicesTest : public QObject {
    Q_OBJECT

public:
    explicit NetworkServicesTest(TestEnvironment &environment) : m_environment(environment) {}

private slots:
    void pipelinesAreExact() {
        QCOMPARE(defaultServicePipeline.size(), 113);
        QCOMPARE(serviceListPipeline.size(), 79);
        QVERIFY(defaultServicePipeline.contains(QLatin1String(R"('s/([0-9]\{1,\}) \(.*\)/\1/p')")));
    }

    void linesAreTrimmedOnlyAtTheEnds() {
        QCOMPARE(listingLines("Wi-Fi\n"), QStringList{QStringLiteral("Wi-Fi")});
        QCOMPARE(listingLines(""), QStringList{QString()});
        QCOMPARE(listingLines("\n \n"), QStringList{QString()});
        QCOMPARE(listingLines("  a \n\n b\r\nc  \n"),
                 (QStringList{QStringLiteral("a "), QString(), QStringLiteral(" b\r"),
                              QStringLiteral("c")}));
        QCOMPARE(listingLines("caf\xc3\xa9 \xff"), QStringList{QStringLiteral(u"café \uFFFD")});
    }

    void discoveryThroughTheRealPipelines() {
        struct Case {
            const char *what;
            QByteArray listing;
            QString expectedDefault;
            QStringList expectedList;
        };
        const QList<Case> cases = {
            {"ethernet before wi-fi",
             listing({{"Ethernet", "Ethernet"}, {"Wi-Fi", "Wi-Fi"}}),
             QStringLiteral("Wi-Fi"),
             {QStringLiteral("Ethernet"), QStringLiteral("Wi-Fi")}},
            {"two wi-fi services: the first wins",
             listing({{"Home Wi-Fi (2.4 GHz)", "Wi-Fi"}, {"Wi-Fi 2", "Wi-Fi"}}),
             QStringLiteral("Home Wi-Fi (2.4 GHz)"),
             {QStringLiteral("Home Wi-Fi (2.4 GHz)"), QStringLiteral("Wi-Fi 2")}},
            {"no wi-fi",
             listing({{"Ethernet", "Ethernet"}}),
             QString(),
             {QStringLiteral("Ethernet")}},
            {"no output at all", QByteArray(), QString(), {QString()}},
            {"a service with an empty name keeps its place",
             listing({{"A", "Ethernet"}, {"", "Ethernet"}, {"B", "Wi-Fi"}}),
             QStringLiteral("B"),
             {QStringLiteral("A"), QString(), QStringLiteral("B")}},
        };
        for (const Case &c : cases) {
            QFile file(m_environment.path(QStringLiteral("listing")));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(c.listing);
            file.close();
            m_environment.installTool(QStringLiteral("networksetup"),
                                      "[ \"$1\" = -listnetworkserviceorder ] && cat '" +
                                          QFile::encodeName(file.fileName()) + "'\n");
            QVERIFY2(defaultNetworkService() == c.expectedDefault, c.what);
            QVERIFY2(listNetworkServices() == c.expectedList, c.what);
        }
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
