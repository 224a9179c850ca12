// The token shapes that are easy to get wrong, as a compact text: "{" and
// "}", \word with its parameter, \ and a symbol, \'xx (\'? when no two hex
// digits follow), "text" and bin[data]. Bytes outside printable ASCII are
// written as \xNN.
#include "rtf/rtftokenizer.h"

#include <QTest>

using Inkwell::Rtf::Token;
using Inkwell::Rtf::Tokenizer;

class TestRtfTokenizer : public QObject {
    Q_OBJECT

private slots:
    void tokens_data();
    void tokens();
};

namespace {

QByteArray printable(std::string_view bytes)
{
    QByteArray out;
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F)
            out += "\\x" + QByteArray::number(u, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

QByteArray render(QByteArrayView input)
{
    Tokenizer tokenizer(input);
    QList<QByteArray> parts;
    for (int guard = 0; guard < 1000; ++guard) {
        const Token token = tokenizer.next();
        switch (token.type) {
        case Token::Type::End:
            return parts.join(' ');
        case Token::Type::GroupStart:
            parts << "{";
            break;
        case Token::Type::GroupEnd:
            parts << "}";
            break;
        case Token::Type::ControlWord:
            parts << "\\" + printable(token.text) +
                         (token.hasParam ? QByteArray::number(token.value) : QByteArray());
            break;
        case Token::Type::ControlSymbol:
            parts << "\\" + printable(std::string_view(&token.symbol, 1));
            break;
        case Token::Type::Hex:
            parts << (token.value < 0 ? QByteArray("\\'?")
                                      : "\\'" + QByteArray::number(token.value, 16));
            break;
        case Token::Type::Text:
            parts << '"' + printable(token.text) + '"';
            break;
        case Token::Type::Binary:
            parts << "bin[" + printable(token.text) + "]";
            break;
        }
    }
    return "no end";
}

} // namespace

void TestRtfTokenizer::tokens_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("hex byte") << QByteArray("\\'e4x") << QByteArray("\\'e4 \"x\"");
    QTest::newRow("hex, upper case") << QByteArray("\\'C3") << QByteArray("\\'c3");
    QTest::newRow("hex, one digit at the end") << QByteArray("\\'4") << QByteArray("\\'?");
    QTest::newRow("hex, nothing at the end") << QByteArray("\\'") << QByteArray("\\'?");
    QTest::newRow("hex, not a digit") << QByteArray("\\'g1x") << QByteArray("\\'? \"x\"");
    QTest::newRow("hex, second not a digit") << QByteArray("\\'3xy") << QByteArray("\\'? \"y\"");
    QTest::newRow("hex, a brace stays") << QByteArray("\\'4}") << QByteArray("\\'? }");
    QTest::newRow("hex, a word stays") << QByteArray("\\'\\par") << QByteArray("\\'? \\par");
    QTest::newRow("bin takes braces and backslashes")
        << QByteArray("\\bin4 a}{\\bc") << QByteArray("bin[a}{\\] \"bc\"");
    QTest::newRow("bin past the end") << QByteArray("\\bin10 abc") << QByteArray("bin[abc]");
    QTest::newRow("bin at the very end") << QByteArray("\\bin5") << QByteArray("bin[]");
    QTest::newRow("bin without a count") << QByteArray("\\bin x") << QByteArray("bin[] \"x\"");
    QTest::newRow("bin with a negative count")
        << QByteArray("\\bin-2 ab") << QByteArray("bin[] \"ab\"");
    QTest::newRow("bin data keeps CR LF NUL")
        << QByteArray("\\bin3 \r\n\0z", 10) << QByteArray("bin[\\x0d\\x0a\\x00] \"z\"");
    QTest::newRow("negative parameter") << QByteArray("\\li-720 x") << QByteArray("\\li-720 \"x\"");
    QTest::newRow("minus without digits is text")
        << QByteArray("\\f-x") << QByteArray("\\f \"-x\"");
    QTest::newRow("parameter beyond int")
        << QByteArray("\\fs99999999999999 x") << QByteArray("\\fs2147483647 \"x\"");
    QTest::newRow("negative parameter beyond int")
        << QByteArray("\\fs-99999999999999") << QByteArray("\\fs-2147483648");
    QTest::newRow("word ends at a space, which it takes")
        << QByteArray("\\b x") << QByteArray("\\b \"x\"");
    QTest::newRow("word takes one space only") << QByteArray("\\b  x") << QByteArray("\\b \" x\"");
    QTest::newRow("word ends at a non-letter") << QByteArray("\\b;x") << QByteArray("\\b \";x\"");
    QTest::newRow("word ends at a backslash") << QByteArray("\\b\\i0") << QByteArray("\\b \\i0");
    QTest::newRow("parameter ends at a letter") << QByteArray("\\b1x") << QByteArray("\\b1 \"x\"");
    QTest::newRow("space after the parameter") << QByteArray("\\b0 x") << QByteArray("\\b0 \"x\"");
    QTest::newRow("long word is cut") << QByteArray("\\" + QByteArray(40, 'a') + "1")
                                      << QByteArray("\\" + QByteArray(32, 'a') + "1");
    QTest::newRow("star at a group start")
        << QByteArray("{\\*\\foo x}") << QByteArray("{ \\* \\foo \"x\" }");
    QTest::newRow("star elsewhere") << QByteArray("\\b\\*\\foo") << QByteArray("\\b \\* \\foo");
    QTest::newRow("unicode with its fallback")
        << QByteArray("\\u-1234?") << QByteArray("\\u-1234 \"?\"");
    QTest::newRow("unicode then space and fallback")
        << QByteArray("\\u20320 ?") << QByteArray("\\u20320 \"?\"");
    QTest::newRow("unbalanced braces") << QByteArray("}}{") << QByteArray("} } {");
    QTest::newRow("escaped braces and backslash")
        << QByteArray("\\{\\}\\\\") << QByteArray("\\{ \\} \\\\");
    QTest::newRow("control symbols") << QByteArray("\\~\\-\\_\\|") << QByteArray("\\~ \\- \\_ \\|");
    QTest::newRow("backslash newline") << QByteArray("\\\nx") << QByteArray("\\\\x0a \"x\"");
    QTest::newRow("CR LF NUL between text are dropped")
        << QByteArray("a\r\nb\0c", 6) << QByteArray("\"a\" \"b\" \"c\"");
    QTest::newRow("lone backslash at the end") << QByteArray("ab\\") << QByteArray("\"ab\"");
    QTest::newRow("bytes above ASCII are text")
        << QByteArray("\xe4\xb8\t") << QByteArray("\"\\xe4\\xb8\\x09\"");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestRtfTokenizer::tokens()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, expected);
    // Bytes after the end of the input, which the tokenizer must not read:
    // a hex digit, a digit and a letter would all change the last token.
    const QByteArray padded = input + "0fa }";
    QCOMPARE(render(QByteArrayView(padded).first(input.size())), expected);
}

QTEST_APPLESS_MAIN(TestRtfTokenizer)
#include "tst_rtftokenizer.moc"
