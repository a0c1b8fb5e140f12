#pragma once
// For tests that need a real component (X server, tray, namespaces, the console simulator, a tool):
// where it is missing the test fails in CI (CI=true) and is skipped elsewhere.

#include <QtTest>

#define QUILLON_REQUIRE(Ok, Why)                                                                                \
    do                                                                                                         \
    {                                                                                                          \
        if (!(Ok))                                                                                             \
        {                                                                                                      \
            if (qgetenv("CI") == "true")                                                                       \
                QFAIL(qPrintable(Why));                                                                        \
            QSKIP(qPrintable(Why));                                                                            \
        }                                                                                                      \
    } while (false)
