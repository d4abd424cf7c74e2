#include "FormFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QTimer>

#include <fstream>

void FormFixture::StartForm() {
    form = TFormQorn::Create();
}

std::string FormFixture::Folder() const {
    return dir.path().toStdString();
}

std::string FormFixture::WriteFile(const std::string& name, std::size_t bytes) {
    const std::string path = Folder() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out << std::string(bytes, 'x');
    return path;
}

std::string FormFixture::WriteMidi(const std::string& name) {
    const std::string path = Folder() + "/" + name;
    const unsigned char bytes[] = {'M', 'T', 'h', 'd', 0,   0, 0, 6, 0, 0, 0,    1,    0,
                                   96,  'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes), sizeof bytes);
    return path;
}

std::unique_ptr<QMimeData> FormFixture::DropOf(const std::vector<std::string>& paths) {
    // What a file manager sends: one percent-encoded file URL per line.
    QByteArray list;
    for (const std::string& path : paths)
        list += "file://" + QByteArray::fromStdString(path).toPercentEncoding("/") + "\r\n";
    auto data = std::make_unique<QMimeData>();
    data->setData(QStringLiteral("text/uri-list"), list);
    return data;
}

void FormFixture::Drop(const std::vector<std::string>& paths) {
    form->WMDropFiles(*DropOf(paths));
}

void FormFixture::OpenWithDialog(const std::string& path) {
    form->OpenDialogRunner = [path](QFileDialog& dialog) {
        dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(path)));
        return true;
    };
    form->ComOpenClick();
}

bool FormFixture::WithModalBox(const std::function<void()>& action, const std::function<void(QWidget*)>& inspect) {
    bool seen = false;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            poll.stop();
            seen = true;
            inspect(box);
            box->close();
        }
    });
    poll.start();
    action();
    return seen;
}

std::string FormFixture::Caption() const {
    return form->windowTitle().toStdString();
}

std::string FormFixture::Text(const QWidget* widget) const {
    if (const auto* label = qobject_cast<const QLabel*>(widget)) return label->text().toStdString();
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text().toStdString();
    return {};
}
