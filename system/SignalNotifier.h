#pragma once

#include <QObject>

#include <initializer_list>
#include <vector>

class QSocketNotifier;

// Turns Unix signals into a Qt signal on the thread that made the notifier. The handler only
// writes the signal's number into a pipe; everything else runs later, in the event loop, where
// it is safe to do anything.
class SignalNotifier : public QObject {
    Q_OBJECT

public:
    enum class Delivery {
        Always,
        // After the first, the signal's default action comes back: a second Ctrl+C still ends a
        // process whose orderly exit hangs.
        FirstOnly,
    };

    SignalNotifier(std::initializer_list<int> signalNumbers, Delivery delivery,
                   QObject *parent = nullptr);
    // Puts the handlers back as they were.
    ~SignalNotifier() override;

    // Readable whenever a signal has arrived and not been handled yet, for a blocking wait that
    // must wake up on it (see drain()).
    int descriptor() const { return m_pipe[0]; }
    // Reads what has arrived and emits received() for each signal, now.
    void drain();

signals:
    void received(int signalNumber);

private:
    int m_pipe[2] = {-1, -1};
    std::vector<int> m_signals;
    QSocketNotifier *m_notifier = nullptr;
};
