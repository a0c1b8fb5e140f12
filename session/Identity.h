#pragma once
// Who Quillon is, in one place for the window and the bridge: the maker and program names that
// select the settings store, the maker's domain (macOS names the store by it) and the version the
// build gives. Plain values; any thread.

#include <QString>

class cIdentity
{
public:
    static QString OrganisationName(); // "Corvane"
    static QString OrganisationDomain(); // "com.corvane"
    static QString ApplicationName(); // "Quillon"
    static QString Version(); // the project's version in the build, "1.40"

    // Names the organisation, its domain and the application on QCoreApplication, so both programs
    // read and write one settings store. Call before the first settings object is made.
    static void Apply();
};
