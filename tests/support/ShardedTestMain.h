#pragma once

#include <QApplication>
#include <QMetaMethod>
#include <QTest>

// A test whose cases take minutes runs as several CTest entries side by side. With VEXLOR_SHARD
// set to "<i>/<n>", only every n-th test function from the i-th runs, in the order declared;
// functions named on the command line run as usual.
inline int execShard(QObject &test, int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QList<QByteArray> shard = qgetenv("VEXLOR_SHARD").split('/');
    if (shard.size() == 2 && argc == 1) {
        const int index = shard[0].toInt() - 1;
        const int count = shard[1].toInt();
        const QMetaObject *meta = test.metaObject();
        int position = 0;
        for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            const QByteArray name = method.name();
            static const QList<QByteArray> fixtures{"initTestCase", "cleanupTestCase", "init",
                                                    "cleanup"};
            if (method.access() != QMetaMethod::Private ||
                method.methodType() != QMetaMethod::Slot || method.parameterCount() != 0 ||
                name.endsWith("_data") || fixtures.contains(name))
                continue;
            if (count > 0 && position++ % count == index)
                arguments.append(QString::fromLatin1(name));
        }
    }
    return QTest::qExec(&test, arguments);
}

#define VEXLOR_SHARDED_TEST_MAIN(TestObject)                                                       \
    int main(int argc, char *argv[])                                                               \
    {                                                                                              \
        QApplication app(argc, argv);                                                              \
        TestObject test;                                                                           \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return execShard(test, argc, argv);                                                        \
    }
