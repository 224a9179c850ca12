// The content hash must equal the published XXH64 (seed 0) for every length
// class (below 4, 8 and 32 bytes, whole stripes and a tail), whatever the
// pieces it is fed in: drafts written by one run are checked by another.
#include "core/contenthash.h"

#include <QTest>

using namespace Inkwell;

class TestContentHash : public QObject {
    Q_OBJECT
private slots:
    void knownValues_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<quint64>("expected");
        // Reference values from xxhsum -H1.
        QTest::newRow("empty") << QByteArray() << Q_UINT64_C(0xef46db3751d8e999);
        QTest::newRow("one byte") << QByteArray("a") << Q_UINT64_C(0xd24ec4f1a98c6e5b);
        QTest::newRow("three bytes") << QByteArray("abc") << Q_UINT64_C(0x44bc2cf5ad770999);
        QTest::newRow("one short of a stripe")
            << QByteArray("0123456789abcdef0123456789abcde") << Q_UINT64_C(0x1fdfc63febacfde7);
        QTest::newRow("one stripe")
            << QByteArray("0123456789abcdef0123456789abcdef") << Q_UINT64_C(0x642a94958e71e6c5);
        QTest::newRow("stripe and every tail kind")
            << QByteArray("0123456789abcdef0123456789abcdef0123456789abcdef012345678")
            << Q_UINT64_C(0x782fe49331c4c7dc);
        QTest::newRow("UTF-8 bytes above 0x7f")
            << QString::fromUtf8("草稿").toUtf8() << Q_UINT64_C(0xb0fc0d9976bb0359);
        QTest::newRow("thousand bytes") << QByteArray(1000, 'x') << Q_UINT64_C(0x4cb9a3b69cb700e1);
    }
    void knownValues()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(quint64, expected);
        QCOMPARE(contentHash(bytes), expected);
    }

    // Fed in pieces of every size from 1 to 40 bytes: the same value.
    void piecesDoNotMatter()
    {
        QByteArray bytes;
        for (int i = 0; i < 1000; ++i)
            bytes.append(char(i * 37 % 251));
        const quint64 whole = contentHash(bytes);
        for (int piece = 1; piece <= 40; ++piece) {
            ContentHash hash;
            for (qsizetype at = 0; at < bytes.size(); at += piece)
                hash.add(QByteArrayView(bytes).sliced(at, std::min<qsizetype>(piece, bytes.size() - at)));
            QCOMPARE(hash.value(), whole);
            QCOMPARE(hash.size(), bytes.size());
        }
        // value() does not disturb what comes after it.
        ContentHash hash;
        hash.add(QByteArrayView(bytes).first(100));
        QCOMPARE(hash.value(), contentHash(QByteArrayView(bytes).first(100)));
        hash.add(QByteArrayView(bytes).sliced(100));
        QCOMPARE(hash.value(), whole);
    }
};

QTEST_APPLESS_MAIN(TestContentHash)
#include "tst_contenthash.moc"
