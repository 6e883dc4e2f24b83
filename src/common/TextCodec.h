#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <string_view>

namespace quill {

// Page and article texts are bytes. For display they are read as UTF-8, or as
// Latin-1 when they are not valid UTF-8; the same choice converts edits back,
// so bytes that were not touched are written out unchanged.
enum class TextEncoding { Utf8, Latin1 };

TextEncoding DetectEncoding(std::string_view bytes);
QString ToDisplay(std::string_view bytes, TextEncoding encoding);
std::string FromDisplay(const QString& text, TextEncoding encoding);

// Bytes from outside (a name, a path, a title) as the user sees them.
inline QString DisplayText(std::string_view bytes) {
    return ToDisplay(bytes, DetectEncoding(bytes));
}

// Outside text (a name, a server's reply, page text) for the log or a
// message: NUL as \0 and every other control character as \xNN, so none
// can cut the text short for a screen reader or forge a line of its own.
QString VisibleControls(const QString& text);

// Bytes from outside as the log and messages show them.
inline QString ShownText(std::string_view bytes) {
    return VisibleControls(DisplayText(bytes));
}

// Bytes to keep in an item's data or hand to Qt unchanged.
inline QByteArray ByteArrayOf(std::string_view bytes) {
    return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace quill

namespace quill {

// Text editors show lines without CR; the program's texts end lines in CR LF.
QString ToEditorText(QString text);
QString FromEditorText(QString text);

// A QString from program text that is UTF-8 (constants, paths, messages).
inline QString Qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace quill
