#include "tests/support/NetworkNamespaces.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>

#include <unistd.h>

const QString cNetworkNamespaces::kNamePrefix = QStringLiteral("quillon-test-");
const QString cNetworkNamespaces::kInterfacePrefix = QStringLiteral("qveth");

cNetworkNamespaces::cNetworkNamespaces()
{
    RemoveStale();
}

cNetworkNamespaces::~cNetworkNamespaces()
{
    // A namespace with nothing left inside goes at once, taking its veth ends and with each its peer.
    while (!mCreated.isEmpty())
        RunCommand({"ip", "netns", "del", mCreated.takeLast()}, nullptr);
}

bool cNetworkNamespaces::Available(QString* Why)
{
    QString output;
    if (::geteuid() != 0)
        *Why = QStringLiteral("network namespaces need root");
    else if (!RunCommand({"ip", "netns", "list"}, &output))
        *Why = QStringLiteral("\"ip netns list\" does not work here: %1").arg(output.trimmed());
    else
        return true;
    return false;
}

QString cNetworkNamespaces::Name(const QString& Role) const
{
    return kNamePrefix + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-') + Role;
}

QStringList cNetworkNamespaces::Exec(const QString& Role) const
{
    return {"ip", "netns", "exec", Name(Role)};
}

bool cNetworkNamespaces::Add(const QString& Role)
{
    static const QRegularExpression role(QStringLiteral("^[a-z0-9]+$"));
    if (!role.match(Role).hasMatch())
    {
        mWhy = QStringLiteral("the role \"%1\" is not lower-case letters and digits").arg(Role);
        return false;
    }
    if (mCreated.contains(Name(Role)))
    {
        mWhy = QStringLiteral("the namespace %1 exists already").arg(Name(Role));
        return false;
    }
    if (!Step({"ip", "netns", "add", Name(Role)}))
        return false;
    mCreated.append(Name(Role));
    return Step({"ip", "-n", Name(Role), "link", "set", "lo", "up"});
}

bool cNetworkNamespaces::Link(const QString& RoleA, const QString& AddressA, const QString& RoleB,
                              const QString& AddressB, QString* InterfaceA, QString* InterfaceB)
{
    for (const QString& role : {RoleA, RoleB})
    {
        if (!mCreated.contains(Name(role)))
        {
            mWhy = QStringLiteral("no namespace was made for \"%1\"").arg(role);
            return false;
        }
    }
    const QString a = kInterfacePrefix + QString::number(mInterfaces++);
    const QString b = kInterfacePrefix + QString::number(mInterfaces++);
    const QString nsA = Name(RoleA);
    const QString nsB = Name(RoleB);
    // Made inside the first namespace with its peer moved straight into the second one: the
    // machine's own namespace never holds either end.
    const bool ok = Step({"ip", "-n", nsA, "link", "add", a, "type", "veth", "peer", "name", b, "netns", nsB}) &&
                    Step({"ip", "-n", nsA, "addr", "add", AddressA, "dev", a}) &&
                    Step({"ip", "-n", nsB, "addr", "add", AddressB, "dev", b}) &&
                    Step({"ip", "-n", nsA, "link", "set", a, "up"}) && Step({"ip", "-n", nsB, "link", "set", b, "up"});
    if (ok && InterfaceA)
        *InterfaceA = a;
    if (ok && InterfaceB)
        *InterfaceB = b;
    return ok;
}

bool cNetworkNamespaces::Run(const QString& Role, const QStringList& Command, QString* Output)
{
    return Step(Exec(Role) + Command, Output);
}

void cNetworkNamespaces::Start(const QString& Role, QProcess& Process, const QStringList& Command) const
{
    const QStringList command = Exec(Role) + Command;
    Process.start(command.first(), command.mid(1));
}

bool cNetworkNamespaces::Step(const QStringList& Command, QString* Output)
{
    QString output;
    const bool ok = RunCommand(Command, &output);
    if (!ok)
        mWhy = QStringLiteral("\"%1\" failed: %2").arg(Command.join(QLatin1Char(' ')), output.trimmed());
    if (Output)
        *Output = output;
    return ok;
}

bool cNetworkNamespaces::RunCommand(const QStringList& Command, QString* Output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(Command.first(), Command.mid(1));
    const bool started = process.waitForStarted(10000);
    const bool finished = started && process.waitForFinished(20000);
    if (started && !finished)
    {
        process.kill();
        process.waitForFinished(5000);
    }
    if (Output)
    {
        *Output = QString::fromLocal8Bit(process.readAll());
        if (!started)
            *Output = QStringLiteral("could not start: %1").arg(process.errorString());
        else if (!finished)
            *Output += QStringLiteral(" (still running after 20 s)");
    }
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void cNetworkNamespaces::RemoveStale()
{
    QString list;
    if (!RunCommand({"ip", "netns", "list"}, &list))
        return;
    static const QRegularExpression name(
        QStringLiteral("^(%1(\\d+)-[a-z0-9]+)").arg(QRegularExpression::escape(kNamePrefix)),
        QRegularExpression::MultilineOption);
    QRegularExpressionMatchIterator it = name.globalMatch(list);
    while (it.hasNext())
    {
        const QRegularExpressionMatch match = it.next();
        if (!QDir(QStringLiteral("/proc/") + match.captured(2)).exists())
            RunCommand({"ip", "netns", "del", match.captured(1)}, nullptr);
    }
}
