#pragma once
// Network namespaces made by one test and removed with it, so that end-to-end tests send real
// packets (broadcasts too) without any reaching the machine's own network. Each is named
// "quillon-test-<pid>-<role>"; veth pairs join them, and no end of a pair ever sits in the machine's
// own namespace. Owned by the test; test thread only; needs root and the "ip" tool.

#include <QString>
#include <QStringList>

class QProcess;

class cNetworkNamespaces
{
public:
    // Every namespace of a test starts with this, followed by the test's pid.
    static const QString kNamePrefix;
    // Every veth end is named so, followed by a number; a process inside may refuse to run where any
    // interface other than loopback and these is up.
    static const QString kInterfacePrefix;

    // Removes the namespaces left by tests whose process is gone (a crash, a kill).
    cNetworkNamespaces();
    // Removes the names of every namespace made here. A namespace, with its veth ends, goes once the
    // last process inside has ended: end the processes started in it first (declare them later).
    ~cNetworkNamespaces();

    cNetworkNamespaces(const cNetworkNamespaces&) = delete;
    cNetworkNamespaces& operator=(const cNetworkNamespaces&) = delete;

    // False, with the reason in Why, where namespaces cannot be made (not root, no "ip netns").
    static bool Available(QString* Why);

    // Makes the namespace for Role (lower-case letters and digits) with its loopback up.
    bool Add(const QString& Role);
    // Joins two namespaces made here by a veth pair. Each end gets its address with prefix length
    // ("198.18.51.1/24") and comes up; the ends' names are handed back when asked for.
    bool Link(const QString& RoleA, const QString& AddressA, const QString& RoleB, const QString& AddressB,
              QString* InterfaceA = nullptr, QString* InterfaceB = nullptr);
    // Runs Command inside Role's namespace to its end; false when it could not start, failed or took
    // longer than 20 s. Output gets what it printed, both channels.
    bool Run(const QString& Role, const QStringList& Command, QString* Output = nullptr);
    // Starts Command inside Role's namespace in Process (merged channels are the caller's choice).
    void Start(const QString& Role, QProcess& Process, const QStringList& Command) const;
    // The command prefix that runs a program inside Role's namespace, for helpers that start their
    // own processes: {"ip", "netns", "exec", name}.
    QStringList Exec(const QString& Role) const;

    // The full name of Role's namespace.
    QString Name(const QString& Role) const;
    // Why the last call that failed did so: the command and what it printed.
    QString Why() const { return mWhy; }

private:
    static bool RunCommand(const QStringList& Command, QString* Output);
    bool Step(const QStringList& Command, QString* Output = nullptr);
    void RemoveStale();

    QStringList mCreated;
    int mInterfaces = 0;
    QString mWhy;
};
