#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <filesystem>

namespace {

struct Answer {
    int status = -1;
    QString out;
    QString err;
};

// Runs the program as a terminal user would where no display exists: were it
// to create its application object it would fail instead of answering.
Answer RunQuillmint(const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(QString::fromLatin1(name));
    }
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QUILLMINT_EXECUTABLE), arguments);
    EXPECT_TRUE(process.waitForFinished(60000)) << arguments.join(u' ').toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

}  // namespace

TEST(CommandLine, AnswersOnTheTerminalWithoutADisplay) {
    const QString version = QStringLiteral("Quillmint " QUILLMINT_VERSION "\n");
    const QString tryHelp = QStringLiteral("Try 'quillmint --help' for more information.\n");
    struct Case {
        QStringList arguments;
        int status;
        QStringList outParts;  // each must appear; the first also starts the output
        QString err;
    };
    const Case cases[] = {
        {{QStringLiteral("--version")}, 0, {version}, {}},
        {{QStringLiteral("-v")}, 0, {version}, {}},
        {{QStringLiteral("--help")},
         0,
         {QStringLiteral("Usage: quillmint [options]\n"), QStringLiteral("  -h, --help "),
          QStringLiteral("  -v, --version "), QStringLiteral("  --program-folder ")},
         {}},
        {{QStringLiteral("-h")}, 0, {QStringLiteral("Usage: quillmint [options]\n")}, {}},
        {{QStringLiteral("--bogus")},
         2,
         {},
         QStringLiteral("quillmint: Unknown option 'bogus'.\n") + tryHelp},
        {{QStringLiteral("article.html")},
         2,
         {},
         QStringLiteral("quillmint: Unexpected argument 'article.html'.\n") + tryHelp},
        // Qt's own options are not unknown; they wait for QApplication.
        {{QStringLiteral("-style"), QStringLiteral("fusion"), QStringLiteral("--version")},
         0,
         {version},
         {}},
        {{QStringLiteral("-platform=offscreen"), QStringLiteral("-reverse"),
          QStringLiteral("--version")},
         0,
         {version},
         {}},
    };
    for (const Case& c : cases) {
        const std::string what = c.arguments.join(u' ').toStdString();
        const Answer answer = RunQuillmint(c.arguments);
        EXPECT_EQ(answer.status, c.status) << what;
        EXPECT_EQ(answer.err, c.err) << what;
        if (c.outParts.isEmpty()) {
            EXPECT_EQ(answer.out, QString()) << what;
        } else {
            EXPECT_TRUE(answer.out.startsWith(c.outParts.front()))
                << what << ": " << answer.out.toStdString();
        }
        for (const QString& part : c.outParts) {
            EXPECT_TRUE(answer.out.contains(part)) << what << ": " << part.toStdString();
        }
    }
}

TEST(CommandLine, ProgramFolderOfABuildTreeIsTheExecutablesFolder) {
    const Answer answer = RunQuillmint({QStringLiteral("--program-folder")});
    EXPECT_EQ(answer.status, 0);
    EXPECT_EQ(answer.out.toStdString(),
              std::filesystem::path(QUILLMINT_EXECUTABLE).parent_path().string() + "\n");
}
