#pragma once

#include <QTest>

// A tool or package the set-up installs: where it is missing on CI the set-up is at fault and the
// test fails; elsewhere it skips, saying what it needs. What the kernel may forbid (loop devices,
// FUSE, mounts) is a plain skip.
#define TRASKO_REQUIRE(available, what)                                                            \
    do {                                                                                           \
        if (!(available)) {                                                                        \
            if (qEnvironmentVariableIsSet("CI"))                                                   \
                QFAIL("missing on CI, the set-up must install it: " what);                         \
            QSKIP("needs " what);                                                                  \
        }                                                                                          \
    } while (false)
