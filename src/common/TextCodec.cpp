#include "TextCodec.h"

#include <QStringDecoder>

namespace quill {

TextEncoding DetectEncoding(std::string_view bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    [[maybe_unused]] const QString decoded =
        decoder.decode(QByteArrayView(bytes.data(), std::ssize(bytes)));
    return decoder.hasError() ? TextEncoding::Latin1 : TextEncoding::Utf8;
}

QString ToDisplay(std::string_view bytes, TextEncoding encoding) {
    const auto size = static_cast<qsizetype>(bytes.size());
    return encoding == TextEncoding::Utf8 ? QString::fromUtf8(bytes.data(), size)
                                          : QString::fromLatin1(bytes.data(), size);
}

std::string FromDisplay(const QString& text, TextEncoding encoding) {
    const QByteArray bytes = encoding == TextEncoding::Utf8 ? text.toUtf8() : text.toLatin1();
    return bytes.toStdString();
}

QString ToEditorText(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

QString FromEditorText(QString text) {
    text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return text;
}

QString VisibleControls(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == 0) {
            out += QStringLiteral("\\0");
        } else if (u < 0x20 || u == 0x7F) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            out += QStringLiteral("\\x");
            out += QLatin1Char(kHex[u >> 4]);
            out += QLatin1Char(kHex[u & 15]);
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace quill
