#include "TestEnvironment.h"
#include "TunnelProbe.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

namespace {
// How the stand-in for ssh's SOCKS port answers one connection.
enum class Answer { Nothing, CloseAtOnce, GreetThenSilence, GreetThenClose, GreetAndReplyAtOnce };

// A port on 127.0.0.1 that answers every connection the same way.
class SocksStandIn : public QObject {
public:
    explicit SocksStandIn(Answer answer) : m_answer(answer) {
        QVERIFY(m_server.listen(QHostAddress::LocalHost));
        QObject::connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket *client = m_server.nextPendingConnection();
            if (m_answer == Answer::CloseAtOnce)
                client->close();
            QObject::connect(client, &QTcpSocket::readyRead, client, [this, client] {
                m_received += client->readAll();
                if (m_received.size() == 3 && m_answer != Answer::Nothing)
                    client->write(m_answer == Answer::GreetAndReplyAtOnce
                                      ? QByteArray("\x05\x00\x05\x05\x00\x01\0\0\0\0\0\0", 12)
                                      : QByteArray("\x05\x00", 2));
                if (m_received.size() == 13 && m_answer == Answer::GreetThenClose)
                    client->close(); // the far side refused: ssh closes the connection
            });
        });
    }
    quint16 port() const { return m_server.serverPort(); }

private:
    QTcpServer m_server;
    Answer m_answer;
    QByteArray m_received;
};
} // namespace

class TunnelProbeTest : public QObject {
    Q_OBJECT

public:
    explicit TunnelProbeTest(TestEnvironment &) {}

private slots:
    void anyAnswerFromTheFarSideIsLifeSilenceIsNot() {
        const QList<QPair<Answer, bool>> cases = {{Answer::CloseAtOnce, false},
                                                  {Answer::Nothing, false},
                                                  {Answer::GreetThenSilence, false},
                                                  {Answer::GreetThenClose, true},
                                                  {Answer::GreetAndReplyAtOnce, true}};
        for (const auto &[answer, alive] : cases) {
            SocksStandIn socks(answer);
            TunnelProbe probe;
            QSignalSpy finished(&probe, &TunnelProbe::finished);
            probe.start(socks.port(), std::chrono::milliseconds(500));
            QVERIFY(finished.wait(5000));
            QCOMPARE(finished.size(), 1);
            QVERIFY2(finished[0][0].toBool() == alive, qPrintable(QString::number(int(answer))));
            QVERIFY(!probe.isRunning());
        }

        // Nothing listens on the port at all: our own end is down.
        quint16 closedPort;
        {
            SocksStandIn gone(Answer::Nothing);
            closedPort = gone.port();
        }
        TunnelProbe probe;
        QSignalSpy finished(&probe, &TunnelProbe::finished);
        probe.start(closedPort, std::chrono::seconds(5));
        QVERIFY(finished.wait(1000));
        QCOMPARE(finished[0][0].toBool(), false);
    }

    void portWatchTriesUntilThePortOpens() {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 port = server.serverPort();
        server.close();

        PortWatch watch;
        QSignalSpy listening(&watch, &PortWatch::listening);
        watch.start(port);
        QVERIFY(!listening.wait(500)); // refused, and tried again meanwhile
        QVERIFY(server.listen(QHostAddress::LocalHost, port));
        QVERIFY(listening.wait(2000));
        // Once told, it stops trying; a cancelled watch never tells.
        QTest::qWait(500);
        QCOMPARE(listening.size(), 1);
        watch.start(port);
        watch.cancel();
        QTest::qWait(300);
        QCOMPARE(listening.size(), 1);
    }
};

ZENTREL_TEST_MAIN(TunnelProbeTest, QCoreApplication)
#include "tst_tunnelprobe.moc"
