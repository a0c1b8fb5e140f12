#include "session/Identity.h"

#include <QCoreApplication>

QString cIdentity::OrganisationName()
{
    return QStringLiteral("Corvane");
}

QString cIdentity::OrganisationDomain()
{
    return QStringLiteral("com.corvane");
}

QString cIdentity::ApplicationName()
{
    return QStringLiteral("Quillon");
}

QString cIdentity::Version()
{
    // From project() in the top-level CMakeLists.txt.
    return QStringLiteral(QUILLON_VERSION);
}

void cIdentity::Apply()
{
    QCoreApplication::setOrganizationName(OrganisationName());
    QCoreApplication::setOrganizationDomain(OrganisationDomain());
    QCoreApplication::setApplicationName(ApplicationName());
}
