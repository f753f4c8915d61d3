#include "core/model/framer.h"

#include <QtTest>

namespace {

QStringList feedAll(MessageFramer &framer, const QByteArrayList &chunks) {
    QStringList messages;
    for (const QByteArray &chunk : chunks)
        messages += framer.feed(chunk);
    return messages;
}

} // namespace

class TestFramer : public QObject {
    Q_OBJECT

private slots:
    void feed_data();
    void feed();
    void longestMessageIsAccepted();
    void overflowInOneRead();
    void overflowAcrossReads();
    void overflowEvenWithTerminatorInSameRead();
    void messagesBeforeOverflowAreHandedOn();
    void resetDiscardsPartialMessage();
};

void TestFramer::feed_data() {
    QTest::addColumn<QByteArrayList>("chunks");
    QTest::addColumn<QStringList>("messages");
    const auto bytes = [](const char *text, int size) {
        return QByteArray(text, size);
    };
    const QString a = QStringLiteral("A");
    const QString b = QStringLiteral("B");

    QTest::newRow("line feed ends a message")
        << QByteArrayList{"QUIT\n"} << QStringList{QStringLiteral("QUIT")};
    QTest::newRow("carriage return ends a message")
        << QByteArrayList{"QUIT\r"} << QStringList{QStringLiteral("QUIT")};
    QTest::newRow("carriage return and line feed end one message")
        << QByteArrayList{"QUIT\r\n"} << QStringList{QStringLiteral("QUIT")};
    QTest::newRow("tab ends a message") << QByteArrayList{"A\tB\t"} << QStringList{a, b};
    QTest::newRow("NUL ends a message") << QByteArrayList{bytes("A\0B\0", 4)} << QStringList{a, b};
    QTest::newRow("code 14 does not end a message") << QByteArrayList{"A\x0e"
                                                                      "B\n"}
                                                    << QStringList{QStringLiteral("A\x0e"
                                                                                  "B")};
    QTest::newRow("two messages in one read") << QByteArrayList{"A\nB\n"} << QStringList{a, b};
    QTest::newRow("two pairs in one read") << QByteArrayList{"A\r\nB\r\n"} << QStringList{a, b};
    QTest::newRow("pair split across reads") << QByteArrayList{"A\r", "\nB\n"} << QStringList{a, b};
    QTest::newRow("pair split by an empty read")
        << QByteArrayList{"A\r", "", "\nB\n"} << QStringList{a, b};
    QTest::newRow("carriage return then text then line feed")
        << QByteArrayList{"A\r", "B", "\n"} << QStringList{a, b};
    QTest::newRow("terminator alone carries no message") << QByteArrayList{"\n"} << QStringList();
    QTest::newRow("pair alone carries no message") << QByteArrayList{"\r\n"} << QStringList();
    QTest::newRow("two line feeds carry no message") << QByteArrayList{"\n\n"} << QStringList();
    QTest::newRow("two carriage returns are two terminators")
        << QByteArrayList{"A\r\rB\n"} << QStringList{a, b};
    QTest::newRow("carriage return before a pair") << QByteArrayList{"A\r\r\n"} << QStringList{a};
    QTest::newRow("line feed then carriage return are two terminators")
        << QByteArrayList{"A\n\rB\n"} << QStringList{a, b};
    QTest::newRow("message split over several reads")
        << QByteArrayList{"DECI", "SION UI", " 3", "\n"}
        << QStringList{QStringLiteral("DECISION UI 3")};
    QTest::newRow("message and the start of the next")
        << QByteArrayList{"ENTRY-ID alpha\nDECISION", " UI 3\n"}
        << QStringList{QStringLiteral("ENTRY-ID alpha"), QStringLiteral("DECISION UI 3")};
    QTest::newRow("partial message waits") << QByteArrayList{"ENTRY-ID al"} << QStringList();
    QTest::newRow("empty read") << QByteArrayList{""} << QStringList();
    QTest::newRow("single-byte text")
        << QByteArrayList{"caf\xe9\n"} << QStringList{QStringLiteral("caf\u00e9")};
}

void TestFramer::feed() {
    QFETCH(QByteArrayList, chunks);
    QFETCH(QStringList, messages);
    MessageFramer framer;
    QCOMPARE(feedAll(framer, chunks), messages);
    QVERIFY(!framer.overflowed());
}

void TestFramer::longestMessageIsAccepted() {
    MessageFramer framer;
    const QByteArray longest(MessageFramer::MaxMessageBytes, 'x');
    QCOMPARE(framer.feed(longest), QStringList());
    QVERIFY(!framer.overflowed());
    const QStringList messages = framer.feed("\n");
    QCOMPARE(messages.size(), 1);
    QCOMPARE(messages.at(0).size(), MessageFramer::MaxMessageBytes);
}

void TestFramer::overflowInOneRead() {
    MessageFramer framer;
    QCOMPARE(framer.feed(QByteArray(MessageFramer::MaxMessageBytes + 1, 'x')), QStringList());
    QVERIFY(framer.overflowed());
    QCOMPARE(framer.pending(), QString());
    // The rest of the overlong message, and anything after it, is not taken as a message.
    QCOMPARE(framer.feed("tail\nQUIT\n"), QStringList());
    QVERIFY(framer.overflowed());
    framer.reset();
    QVERIFY(!framer.overflowed());
    QCOMPARE(framer.feed("QUIT\n"), QStringList{QStringLiteral("QUIT")});
}

void TestFramer::overflowAcrossReads() {
    MessageFramer framer;
    const int half = MessageFramer::MaxMessageBytes / 2;
    QCOMPARE(framer.feed(QByteArray(half, 'x')), QStringList());
    QCOMPARE(framer.feed(QByteArray(half, 'x')), QStringList());
    QVERIFY(!framer.overflowed());
    QCOMPARE(framer.feed("y"), QStringList());
    QVERIFY(framer.overflowed());
}

void TestFramer::overflowEvenWithTerminatorInSameRead() {
    MessageFramer framer;
    QCOMPARE(framer.feed(QByteArray(MessageFramer::MaxMessageBytes + 1, 'x') + "\nQUIT\n"),
             QStringList());
    QVERIFY(framer.overflowed());
}

void TestFramer::messagesBeforeOverflowAreHandedOn() {
    MessageFramer framer;
    const QByteArray read =
        QByteArray("DECISION UI 1\nDECISION UI 2\r\n") + QByteArray(70000, 'x') + "\n";
    QCOMPARE(framer.feed(read),
             (QStringList{QStringLiteral("DECISION UI 1"), QStringLiteral("DECISION UI 2")}));
    QVERIFY(framer.overflowed());
}

void TestFramer::resetDiscardsPartialMessage() {
    MessageFramer framer;
    QCOMPARE(framer.feed("ENTRY-ID al"), QStringList());
    QCOMPARE(framer.pending(), QStringLiteral("ENTRY-ID al"));
    framer.reset();
    QCOMPARE(framer.pending(), QString());
    QCOMPARE(framer.feed("QUIT\n"), QStringList{QStringLiteral("QUIT")});
}

QTEST_GUILESS_MAIN(TestFramer)
#include "test_framer.moc"
