#pragma once

// The checks of newer Qt Test versions that the tests use, for Qt 5.15.
#include <QTest>

#ifndef QCOMPARE_GE
#define QCOMPARE_GE(actual, expected)                                                                            \
    QVERIFY2((actual) >= (expected), qPrintable(QStringLiteral("%1 >= %2").arg(actual).arg(expected)))
#endif

#ifndef QVERIFY_THROWS_EXCEPTION
#define QVERIFY_THROWS_EXCEPTION(exceptionType, expression) QVERIFY_EXCEPTION_THROWN(expression, exceptionType)
#endif
