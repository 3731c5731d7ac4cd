// Bytes shown as text: the verdict UTF-8 or Windows-1251, the text shown, and the
// bytes written back, for the display decoding and for configuration text.
#include "config_text.h"
#include "text_codec.h"

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
        QTest::newRow("EF BB BF, UTF-8 text") << QByteArray("\xEF\xBB\xBF" "\xD0\xBF\xD1\x80\xD0\xB8") << TextEncoding::Utf8
                                             << mark + QStringLiteral("при");
        QTest::newRow("EF BB BF alone") << QByteArray("\xEF\xBB\xBF") << TextEncoding::Utf8 << mark;
        QTest::newRow("EF BB BF, Windows-1251 text") << QByteArray("\xEF\xBB\xBF\xEF\xF0\xE8") << TextEncoding::Windows1251
                                                    << QStringLiteral("п»їпри");
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
};

QTEST_GUILESS_MAIN(TextCodecTest)
#include "tst_text_codec.moc"
