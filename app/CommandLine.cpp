#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>
#include <QStringList>

namespace qorn::app {

namespace {

// QGuiApplication's and QApplication's own options, taken by the
// application object later: accepted here and left alone.
constexpr const char* QtValueOptions[] = {"platform",        "platformpluginpath",
                                          "platformtheme",   "plugin",
                                          "qwindowgeometry", "geometry",
                                          "qwindowicon",     "icon",
                                          "qwindowtitle",    "title",
                                          "display",         "name",
                                          "style",           "stylesheet",
                                          "session",         "qmljsdebugger"};
constexpr const char* QtFlagOptions[] = {"reverse", "sync", "nograb", "dograb", "widgetcount"};

} // namespace

CommandLine ReadCommandLine(const std::vector<std::string>& args) {
    QStringList list;
    for (const std::string& arg : args)
        list.append(QFile::decodeName(arg.c_str()));
    QCommandLineParser parser;
    // Qt's options are single-dash words (-platform); ours are long options.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Plays DirectMusic segment files (.sgt, .sgp), Standard MIDI Files (.mid) and wave files (.wav).\n"
        "With a copy already running, FILE is handed to it and this one ends."));
    // Qt's own help option would offer --help-all, which lists Qt's options
    // only with an application object, and there is none yet.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?")},
                                  QStringLiteral("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption soundFont(
        QStringLiteral("soundfont"),
        QStringLiteral("General MIDI set: a SoundFont (.sf2) or a DLS collection (.dls) such as gm.dls."),
        QStringLiteral("PATH"));
    parser.addOption(soundFont);
    for (const char* name : QtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : QtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("The file to play, as if dropped on the window."),
                                 QStringLiteral("[FILE]"));

    CommandLine line;
    if (!parser.parse(list)) {
        line.action = CommandLine::Action::Refuse;
        line.text = "qorn: " + parser.errorText().toStdString() + "\nTry 'qorn --help'.\n";
        return line;
    }
    if (parser.isSet(help)) {
        line.action = CommandLine::Action::Help;
        // Named as the user calls it, not by the path it was started from.
        QString text = parser.helpText();
        const QString usage = QStringLiteral("Usage: ");
        if (const qsizetype end = text.indexOf(QStringLiteral(" [options]")); text.startsWith(usage) && end > 0)
            text.replace(usage.size(), end - usage.size(), QStringLiteral("qorn"));
        line.text = text.toStdString();
        return line;
    }
    if (parser.isSet(version)) {
        line.action = CommandLine::Action::Version;
        line.text = "qorn " QORN_VERSION "\n";
        return line;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        line.action = CommandLine::Action::Refuse;
        line.text = "qorn: one file at a time\nTry 'qorn --help'.\n";
        return line;
    }
    if (!files.isEmpty()) line.file = QFile::encodeName(files.front()).toStdString();
    if (parser.isSet(soundFont)) {
        line.soundFont = QFile::encodeName(parser.value(soundFont)).toStdString();
        if (line.soundFont.empty()) {
            line.action = CommandLine::Action::Refuse;
            line.text = "qorn: --soundfont needs the path of a SoundFont (.sf2) or a DLS collection (.dls)\n";
        }
    }
    return line;
}

} // namespace qorn::app
