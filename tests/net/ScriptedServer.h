#pragma once
// A scripted server on loopback for the protocol tests. The script reads like the
// conversation on the wire:
//
//     ScriptedServer server{
//         "S: 220 mail.test ready",
//         "C: HELO quorvel",
//         "S: 250 hello",
//     };
//
// "S: text" the server sends text + CR LF; "C: text" the client must send exactly that
// line (its CR LF stripped); "C~ regex" the client's line must match; "<data>" takes
// client lines up to a line "." (kept in dataBlock()); "<close>" closes the
// connection; "<accept>" waits for the next connection; "<eof>" expects the client
// to close; "<silence>" reads and ignores everything until the client closes;
// "<pause 200>" sleeps 200 ms. Step::raw and Step::flood send bytes without line ends;
// Step::slowData is "<data>" read at a throttled rate through a small receive buffer.
// The server runs in its own thread with blocking sockets, so it answers while the
// client waits in its nested event loop. The first mismatch stops the script and is
// reported whole by verdict().

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/Wait.h"

#include <QWidget>

namespace nettest {

struct Step {
    enum Kind { Send, Expect, Match, Data, Close, Accept, ExpectClosed, Silence, Pause, Flood };

    Step(const char *line);
    Step(Kind kind, QByteArray text = {}, qint64 count = 0) : kind(kind), text(std::move(text)), count(count) {}

    // The server sends `bytes` exactly as given.
    static Step raw(const QByteArray &bytes) { return Step(Send, bytes); }
    // The server sends `total` bytes made of `chunk` repeated, stopping quietly when
    // the client goes away.
    static Step flood(const QByteArray &chunk, qint64 total) { return Step(Flood, chunk, total); }
    // "<data>", reading at most `bytesPerSecond`.
    static Step slowData(qint64 bytesPerSecond) { return Step(Data, {}, bytesPerSecond); }

    QString describe() const;

    Kind kind;
    QByteArray text;
    qint64 count = 0;
};

class ScriptedServer {
public:
    ScriptedServer(std::initializer_list<Step> script);
    explicit ScriptedServer(std::vector<Step> script);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;

    quint16 port() const { return port_; }
    QString portText() const { return QString::number(port_); }

    // Waits for the script to end (at most `timeoutMs`); "" when every step ran as
    // scripted, otherwise the first mismatch and the conversation up to it.
    std::string verdict(int timeoutMs = 15000);
    // Every line the client sent, in order, without line ends.
    QList<QByteArray> clientLines() const;
    // The lines of the last <data> block, as sent (dot-stuffing kept), without ".".
    QList<QByteArray> dataBlock() const;
    // True once the script has ended, by running out or by a mismatch.
    bool done() const { return done_; }

    // A loopback port on which nothing listens.
    static quint16 deadPort();

private:
    void run();
    bool runStep(const Step &step, int index);
    // One line from the client: true with the line, false when it closed or the
    // read timed out (`why` tells which).
    bool readLine(QByteArray &line, QString &why);
    bool acceptClient();
    void closeClient();
    void fail(int index, const Step &step, const QString &what);
    void log(const QByteArray &entry);

    std::vector<Step> script_;
    int listenFd_ = -1;
    int clientFd_ = -1;
    quint16 port_ = 0;
    QByteArray pending_;
    qint64 rate_ = 0; // bytes per second readLine may take; 0: no limit
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> done_{false};
    mutable std::mutex mutex_;
    QString failure_;
    QList<QByteArray> transcript_;
    QList<QByteArray> clientLines_;
    QList<QByteArray> dataBlock_;
};

// Runs `work` as a command inside the application's event loop, as the program runs
// its commands, and returns when it is done (or when the application was quit).
void runAsCommand(const std::function<void()> &work);

// A wait control on a hidden host window, counting in short ticks so that timeouts
// in tests take a fraction of a second per count.
struct HiddenWait {
    explicit HiddenWait(int intervalMs = 100) { wait.setInterval(intervalMs); }
    QWidget host;
    TWait wait{&host};
};

} // namespace nettest
