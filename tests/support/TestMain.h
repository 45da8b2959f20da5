#pragma once

#include "core/ProcessEnd.h"

#include <QTest>

// QTEST_MAIN for scenarios that open the machine's sound devices in the test's own
// process: the test ends as ZELMO does, without the sound back end's teardown at exit,
// which now and then crashes a process whose every test passed.
#define ZELMO_TEST_MAIN(TestObject)                                                        \
    static int zelmoTestMain(int argc, char *argv[])                                       \
    {                                                                                      \
        QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>();                 \
        QTEST_MAIN_SETUP()                                                                 \
        TestObject tc;                                                                     \
        QTEST_SET_MAIN_SOURCE_PATH                                                         \
        return QTest::qExec(&tc, argc, argv);                                              \
    }                                                                                      \
    int main(int argc, char *argv[])                                                       \
    {                                                                                      \
        ProcessEnd::now(zelmoTestMain(argc, argv));                                        \
    }
