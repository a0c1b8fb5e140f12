#pragma once
// Where a test stands when a real component it needs (a JACK server, network namespaces, a tool of
// the build) is missing: in CI (CI=true) that is a failure, so nothing is silently untested;
// elsewhere the test is skipped. For QtTest functions, initTestCase and init (the file using it
// includes QtTest; the helpers of the bench that include this header do not use it).

#include <QtGlobal>

#define QUILLON_REQUIRE(Ok, Why)                                                                         \
    do                                                                                                   \
    {                                                                                                    \
        if (!(Ok))                                                                                       \
        {                                                                                                \
            if (qgetenv("CI") == "true")                                                                 \
                QFAIL(qPrintable(Why));                                                                  \
            QSKIP(qPrintable(Why));                                                                      \
        }                                                                                                \
    } while (false)
