#include "CommandLine.h"

#include "PublishCommand.h"

#include "common/ProgramFolder.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace quill {

namespace {

// Options QGuiApplication and QApplication read from the command line.
constexpr const char* kQtOptionsWithValue[] = {"platform",
                                               "platformpluginpath",
                                               "platformtheme",
                                               "plugin",
                                               "qwindowgeometry",
                                               "qwindowicon",
                                               "qwindowtitle",
                                               "session",
                                               "display",
                                               "geometry",
                                               "title",
                                               "name",
                                               "icon",
                                               "style",
                                               "stylesheet",
                                               "qmljsdebugger"};
constexpr const char* kQtFlags[] = {"reverse", "widgetcount", "testability",
                                    "nograb",  "dograb",      "sync"};

}  // namespace

std::optional<int> AnswerCommandLine(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (i > 0 && argument == QStringLiteral("--webEngineArgs")) {
            break;
        }
        arguments << argument;
    }
    const QString program =
        arguments.isEmpty() ? QStringLiteral("quillmint") : QFileInfo(arguments.front()).fileName();
    if (arguments.size() > 1 && arguments[1] == QStringLiteral("publish")) {
        return RunPublishCommand(arguments.mid(2));
    }

    QCommandLineParser parser;
    // Qt's options are written with one dash: -platform, -style.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral(
        "Finds questions and answers through a web search, turns them into HTML articles\n"
        "and publishes them to your web host with its own FTP client.\n"
        "'quillmint publish --help' tells how to publish a folder without a window."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the program's version and exit."));
    const QCommandLineOption programFolder(
        QStringLiteral("program-folder"),
        QStringLiteral("Show the folder that holds the pages, articles and site profiles, "
                       "and exit."));
    parser.addOptions({help, version, programFolder});
    for (const char* name : kQtOptionsWithValue) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kQtFlags) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto refuse = [&](const QString& message) {
        err << program << QStringLiteral(": ") << message << QStringLiteral("\nTry '") << program
            << QStringLiteral(" --help' for more information.\n");
        return 2;
    };
    if (!parser.parse(arguments)) {
        return refuse(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return refuse(
            QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().front()));
    }
    if (parser.isSet(help)) {
        // Without an application object Qt cannot name the program itself.
        out << parser.helpText().replace(QStringLiteral("<executable_name>"), program);
        return 0;
    }
    if (parser.isSet(version)) {
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion()
            << '\n';
        return 0;
    }
    if (parser.isSet(programFolder)) {
        const auto folder = ProgramFolderFromEnvironment().value_or(
            ChooseProgramFolder(ExecutableFolder(), UserDataFolder()));
        out << QString::fromStdString(folder.string()) << '\n';
        return 0;
    }
    return std::nullopt;
}

}  // namespace quill
