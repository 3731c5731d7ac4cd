// Bytes shown as text: the verdict UTF-8 or Windows-1251, the text shown, and the
// bytes written back, for the display decoding and for configuration text; the
// configuration read as JSON: the verdict on a text and the differences of two.
#include "features/config/config_json.h"
#include "features/config/config_text.h"
#include "util/text_codec.h"

#include <QTest>

using namespace tessavin;

Q_DECLARE_METATYPE(tessavin::TextEncoding)

class TextCodecTest : public QObject {
    Q_OBJECT

private slots:
    void decoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<TextEncoding>("encoding");
        QTest::addColumn<QString>("shown");

        const QString mark(QChar(0xFEFF));
        QTest::newRow("EF BB BF, UTF-8 text") << QByteArray("\xEF\xBB\xBF"
                                                            "\xD0\xBF\xD1\x80\xD0\xB8")
                                              << TextEncoding::Utf8 << mark + QStringLiteral("при");
        QTest::newRow("EF BB BF alone") << QByteArray("\xEF\xBB\xBF") << TextEncoding::Utf8 << mark;
        QTest::newRow("EF BB BF, Windows-1251 text")
            << QByteArray("\xEF\xBB\xBF\xEF\xF0\xE8") << TextEncoding::Windows1251 << QStringLiteral("п»їпри");
        QTest::newRow("UTF-8 cut short") << QByteArray("ab\xD0") << TextEncoding::Windows1251 << QStringLiteral("abР");
    }

    // Shown as UTF-8 only when every byte is well-formed UTF-8; a leading byte
    // order mark is a character like any other and comes back out as it went in.
    void decoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(TextEncoding, encoding);
        QFETCH(QString, shown);

        TextEncoding detected = TextEncoding::Utf8;
        QCOMPARE(DecodeText(bytes, &detected), shown);
        QCOMPARE(detected, encoding);
        QCOMPARE(EncodeText(shown, encoding), bytes);
        const DecodedConfigText config = DecodeConfigText(bytes);
        QCOMPARE(config.text, shown);
        QCOMPARE(config.encoding, encoding);
    }

    // The verdict on a configuration file as sent: where the error is (columns in
    // characters for UTF-8 text), what else refuses it and the notes that follow.
    void configCheck_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("report");
        QTest::newRow("valid") << QByteArray("{\"a\": 1}") << true << "valid JSON, 8 bytes after conversion";
        QTest::newRow("missing comma") << QByteArray("{\r\n  \"a\": 1\r\n  \"b\": 2\r\n}") << false
                                       << "line 3, column 3: missing comma";
        QTest::newRow("missing comma, column in characters")
            << QByteArray("{\"имя\": 1 \"x\": 2}") << false << "line 1, column 11: missing comma";
        QTest::newRow("lines ending in CR")
            << QByteArray("{\r\r\"a\" 1}") << false << "line 3, column 5: missing colon after the key";
        QTest::newRow("trailing comma") << QByteArray("[1, 2,]") << false
                                        << "line 1, column 6: trailing comma before ']'";
        QTest::newRow("unterminated string")
            << QByteArray("{\"a\": \"b}") << false << "line 1, column 7: unterminated string";
        QTest::newRow("leading zero") << QByteArray("[01]") << false
                                      << "line 1, column 2: invalid number: a leading zero";
        QTest::newRow("empty") << QByteArray() << false << "line 1, column 1: unexpected end of text, expected a value";
        QTest::newRow("text after the value")
            << QByteArray("{} x") << false << "line 1, column 4: 'x' after the end of the JSON value";
        QTest::newRow("300 levels") << QByteArray(300, '[') << false
                                    << "line 1, column 257: nested more than 256 levels deep";
        QTest::newRow("Windows-1251 string") << QByteArray("{\"\xE8\xEC\xFF\": 1}") << true
                                             << "valid JSON, 10 bytes after conversion\n"
                                                "note: not valid UTF-8 (read as Windows-1251); it is sent as it is";
        QTest::newRow("49,999 bytes") << '"' + QByteArray(49997, 'a') + '"' << true
                                      << "valid JSON, 49999 bytes after conversion";
        QTest::newRow("50,000 bytes")
            << '"' + QByteArray(49998, 'a') + '"' << false
            << "valid JSON, 50000 bytes after conversion\n"
               "too large: 50000 bytes after conversion; a configuration holds at most 49999 bytes";
        QTest::newRow("50,001 bytes")
            << '"' + QByteArray(49999, 'a') + '"' << false
            << "valid JSON, 50001 bytes after conversion\n"
               "too large: 50001 bytes after conversion; a configuration holds at most 49999 bytes";
        QTest::newRow("a zero byte") << QByteArray("{}\0\0", 4) << false
                                     << "valid JSON, 2 bytes after conversion\n"
                                        "a zero byte at offset 2: such a file is not sent (save it as UTF-8)";
        QTest::newRow("byte order mark")
            << QByteArray("\xEF\xBB\xBF{}") << true
            << "valid JSON, 5 bytes after conversion\n"
               "note: a UTF-8 byte order mark (EF BB BF) at the start; it is sent as it is";
        QTest::newRow("repeated keys")
            << QByteArray("{\"a\": 1, \"b\": [{\"c\": 1, \"c\": 2, \"c\": 3}], \"a\": 2}") << true
            << "valid JSON, 49 bytes after conversion\n"
               "note: repeated keys /b/0/c, /a; which value the controller keeps is its own choice";
    }
    void configCheck()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QFETCH(QString, report);
        const ConfigCheck check = CheckConfigFile(text);
        QCOMPARE(check.report(), report);
        QCOMPARE(check.valid(), valid);
    }

    // The differences of two configurations, controller's then file's, in document order.
    void configDiff_data()
    {
        QTest::addColumn<QByteArray>("controller");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("two documents") << QByteArray(
            "{\"modbus\": {\"baud\": 9600, \"parity\": \"none\"}, \"alarms\": [1, 2, 3],\r\n"
            " \"debug\": true, \"name\": \"A\"}")
                                       << QByteArray(
                                              "{\"modbus\": {\"baud\": 19200, \"parity\": \"none\"},\r\n"
                                              " \"alarms\": [1, 2, 3, {\"level\": 5}], \"name\": \"B\", \"new\": null}")
                                       << QStringList{"~ /modbus/baud: 9600 → 19200", "+ /alarms/3: {\"level\":5}",
                                                      "- /debug", "~ /name: \"A\" → \"B\"", "+ /new: null"};
        QTest::newRow("equal, other spacing")
            << QByteArray("{\"a\":[1,2]}") << QByteArray("{\r\n \"a\": [ 1, 2 ]\r\n}") << QStringList();
        QTest::newRow("pointer escapes") << QByteArray("{\"a/b\": 1, \"m~n\": 2}")
                                         << QByteArray("{\"a/b\": 3, \"m~n\": 4}")
                                         << QStringList{"~ /a~1b: 1 → 3", "~ /m~0n: 2 → 4"};
        QTest::newRow("repeated key") << QByteArray("{\"k\": 1, \"k\": 2}") << QByteArray("{\"k\": 1}")
                                      << QStringList{"- /k"};
        QTest::newRow("kind changed, long value")
            << QByteArray("{\"a\": [1], \"b\": 0}")
            << "{\"a\": {\"0\": 1}, \"b\": {\"text\": \"" + QByteArray(60, 'x') + "\"}}"
            << QStringList{"~ /a: [1] → {\"0\":1}", "~ /b: 0 → {...}"};
        QTest::newRow("file not JSON: lines")
            << QByteArray("{\n\"a\": 1,\n\"c\": 3\n}") << QByteArray("{\n\"a\": 1\n\"c\": 3\n}\n")
            << QStringList{"- 2: \"a\": 1,", "+ 2: \"a\": 1"};
    }
    void configDiff()
    {
        QFETCH(QByteArray, controller);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, lines);
        const ConfigDiff diff = DiffConfigs(controller, file);
        QStringList shown;
        for (const ConfigDifference& d : diff.differences)
            shown << d.line();
        QCOMPARE(shown, lines);
        QCOMPARE(diff.json, !QByteArray(QTest::currentDataTag()).contains("not JSON"));
    }
};

QTEST_GUILESS_MAIN(TextCodecTest)
#include "tst_text_codec.moc"
