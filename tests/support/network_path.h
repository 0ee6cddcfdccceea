#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <array>
#include <chrono>

// A path across the internet between the panel's end and the relay's, made
// by the netpath forwarder between two network namespaces of its own: its
// delay, jitter and loss can be set, it can be cut for a while, and it can
// carry TCP alone, as an SSH tunnel does. Needs root.
class NetworkPath
{
public:
    // Near: the panel's end; Far: the relay's end.
    enum Side { Near, Far };
    struct Conditions
    {
        int delayMs = 0;
        int jitterMs = 0;
        double lossPercent = 0;
    };

    NetworkPath() = default;
    // Leaves the namespace it entered, then removes the path.
    ~NetworkPath();

    // Starts the forwarder and waits until the link is up; false with the
    // reason when the path cannot be made here.
    bool open(QString *problem, const Conditions &conditions);
    bool open(QString *problem) { return open(problem, {}); }
    QString address(Side side) const { return m_addresses.at(side); }
    // Each way, for what is sent from now on.
    void set(const Conditions &conditions);
    // Drops everything both ways for that long from now.
    void cutFor(std::chrono::milliseconds outage);
    // False: UDP is dropped, TCP passes.
    void passUdp(bool pass);

    // The command line that runs the program in a side's namespace, the
    // program first, for QProcess.
    QStringList inNamespace(Side side, const QString &program, const QStringList &arguments) const;
    // Moves the calling thread into a side's namespace: the sockets it makes
    // and the threads and processes it starts from then on are there, and
    // stay there. leave(), from the same thread, brings it back.
    bool enter(Side side);
    void leave();

private:
    QString reply();
    void tell(const QString &setting);

    QProcess m_forwarder;
    std::array<QString, 2> m_namespaces;
    std::array<QString, 2> m_addresses;
    // The namespace the entering thread came from, while it is away.
    int m_home = -1;
};
