#include "fileinfo/TextDecoding.h"

#include "fileinfo/Utf8.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

namespace qorn::fileinfo {
namespace {

// ICU's name for Windows code page 932 (Shift-JIS with the NEC and IBM
// extensions and Windows' mappings of 0x5C, 0x7E and 0x8160).
constexpr const char* Cp932Name = "Windows-31J";
constexpr const char* Windows1252Name = "windows-1252";
constexpr std::string_view CutMark = "...";

// The part of a text that is checked and decoded: a cut text without its
// dots (they are added back after decoding).
std::string_view Body(const StoredText& text) {
    std::string_view b = text.bytes;
    if (text.cut && b.ends_with(CutMark)) b.remove_suffix(CutMark.size());
    return b;
}

bool IsCut(const StoredText& text) {
    return text.cut && std::string_view(text.bytes).ends_with(CutMark);
}

// Stateless decoding reports a character cut off by the end as an error; a
// cut text is decoded statefully so its unfinished last character is held
// back (and dropped) instead.
QStringDecoder MakeDecoder(const char* name, bool cut) {
    return cut ? QStringDecoder(name) : QStringDecoder(name, QStringConverter::Flag::Stateless);
}

bool DecodesCleanly(const char* name, const StoredText& text) {
    QStringDecoder decoder = MakeDecoder(name, IsCut(text));
    if (!decoder.isValid()) return false;
    const std::string_view body = Body(text);
    const QString out = decoder.decode(QByteArrayView(body.data(), static_cast<qsizetype>(body.size())));
    (void)out;
    return !decoder.hasError();
}

std::string Decode(const char* name, const StoredText& text) {
    const std::string_view body = Body(text);
    const QByteArrayView bytes(body.data(), static_cast<qsizetype>(body.size()));
    QStringDecoder decoder = MakeDecoder(name, IsCut(text));
    // Without ICU the named code pages are missing; Latin-1 still shows
    // every byte as some character.
    const QString out = decoder.isValid() ? decoder.decode(bytes) : QString::fromLatin1(bytes);
    std::string result = out.toStdString();
    if (IsCut(text)) result += CutMark;
    return result;
}

} // namespace

TextEncoding ChooseEncoding(std::span<const StoredText* const> texts) {
    const auto all = [&](auto&& valid) {
        for (const StoredText* t : texts) {
            if (t != nullptr && !valid(*t)) return false;
        }
        return true;
    };
    if (all([](const StoredText& t) { return IsValidUtf8(Body(t), IsCut(t)); })) return TextEncoding::Utf8;
    if (all([](const StoredText& t) { return DecodesCleanly(Cp932Name, t); })) return TextEncoding::Cp932;
    return TextEncoding::Windows1252;
}

std::string DecodeToUtf8(const StoredText& text, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf8:
        if (IsCut(text)) return std::string(WithoutCutSequence(Body(text))) + std::string(CutMark);
        return text.bytes;
    case TextEncoding::Cp932:
        return Decode(Cp932Name, text);
    case TextEncoding::Windows1252:
        break;
    }
    return Decode(Windows1252Name, text);
}

} // namespace qorn::fileinfo
