#include "ui/DroppedFile.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace qorn::ui {

std::string FirstDroppedFile(const QMimeData& data) {
    for (const QUrl& url : data.urls()) {
        if (!url.isLocalFile()) continue;
        const QString host = url.host();
        if (host.isEmpty() || host == QLatin1String("localhost")) {
            const QByteArray bytes = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
            if (!bytes.isEmpty()) return bytes.toStdString();
        }
        const QByteArray bytes = QFile::encodeName(url.toLocalFile());
        if (!bytes.isEmpty()) return bytes.toStdString();
    }
    return {};
}

bool HasPlayableExtension(std::string_view path) {
    if (path.size() < 4) return false;
    std::string ending(path.substr(path.size() - 4));
    for (char& c : ending)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    // Waves play as segments of one wave, scripts and containers a segment
    // they hold; templates and styles compose anew at each load, a chordmap
    // says how to hear it.
    return ending == ".mid" || ending == ".sgp" || ending == ".sgt" || ending == ".wav" || ending == ".spt" ||
           ending == ".con" || ending == ".tpl" || ending == ".sty" || ending == ".cdm" || ending == ".cdp";
}

} // namespace qorn::ui
