// How the window writes sizes and durations.

#include "ui/formats.h"

#include <QTest>

class TestFormats : public QObject
{
    Q_OBJECT

private slots:
    void sizes_data()
    {
        QTest::addColumn<double>("bytes");
        QTest::addColumn<QString>("text");
        const double gib = 1024.0 * 1024 * 1024;
        QTest::newRow("nothing") << 0.0 << "0 Bytes";
        QTest::newRow("the last of the bytes") << 1023.0 << "1023 Bytes";
        QTest::newRow("a fraction, rounded") << 511.6 << "512 Bytes";
        QTest::newRow("one kilobyte") << 1024.0 << "1.00 KB";
        QTest::newRow("just under a megabyte") << 1048575.0 << "1024.00 KB";
        QTest::newRow("one megabyte") << 1048576.0 << "1.00 MB";
        QTest::newRow("past 32 bits") << gib * 4 + 1 << "4.00 GB";
        QTest::newRow("beyond terabytes") << gib * 1024 * 2048 << "2048.00 TB";
    }
    void sizes()
    {
        QFETCH(double, bytes);
        QFETCH(QString, text);
        QCOMPARE(Formats::size(bytes), text);
    }

    void durations_data()
    {
        QTest::addColumn<quint32>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing") << 0u << "0 seconds";
        QTest::newRow("one") << 1u << "1 second";
        QTest::newRow("minute and second") << 61u << "1 minute 1 second";
        QTest::newRow("an hour, seconds left out") << 3601u << "1 hour";
        QTest::newRow("a day less a second") << 86399u << "23 hours 59 minutes";
        QTest::newRow("day and hour") << 90061u << "1 day 1 hour";
        QTest::newRow("days and hours") << 180000u << "2 days 2 hours";
        QTest::newRow("the longest") << 4294967295u << "49710 days 6 hours";
    }
    void durations()
    {
        QFETCH(quint32, seconds);
        QFETCH(QString, text);
        QCOMPARE(Formats::duration(seconds), text);
    }
};

QTEST_APPLESS_MAIN(TestFormats)
#include "tst_formats.moc"
