// Opens every window with demonstration content from the tests' fixtures
// (servers on 127.0.0.1 only), checks that each is drawn, and saves a PNG of
// each to the folder given. scripts/screenshots.sh runs it for the README.
#include "common/ProgramFolder.h"
#include "extractor/Form1.h"
#include "extractor/Form7.h"
#include "extractor/Formins.h"
#include "ftp/FrmConnect.h"
#include "ftp/frmProg.h"
#include "ftp/frmmain.h"
#include "harvester/Form6.h"
#include "localpane/LocalPane.h"
#include "platform/AppContext.h"
#include "platform/AppIcon.h"
#include "support/FakeDialogs.h"
#include "support/FtpServer.h"
#include "support/GuiTest.h"
#include "support/HttpServer.h"
#include "support/QaPages.h"
#include "support/TestFiles.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QWebEngineView>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>

using namespace quill;
using quill::test::WaitFor;
using quill::test::WriteBytes;

namespace {

struct Question {
    const char* title;  // as the search service marks it up
    const char* subject;
    const char* answer;
};

const Question kQuestions[] = {
    {"How do <em>bees</em> make honey?", "How do bees make honey?",
     "<p>Worker bees collect nectar from flowers and store it in their honey stomach. Back in "
     "the hive they pass it from bee to bee, and enzymes turn its sugars into simpler ones.</p>"
     "<p>The bees fan the open cells with their wings until most of the water has gone, then "
     "seal each cell with a cap of wax. What is left is honey.</p>"},
    {"Why do <em>bees</em> dance?", "Why do bees dance?",
     "<p>A forager that found food tells the others where it is: the angle of the waggle run "
     "gives the direction, its length the distance.</p>"},
    {"How long do <em>bees</em> live?", "How long do bees live?",
     "<p>A summer worker lives about six weeks; a queen can live for several years.</p>"},
    {"Do <em>bees</em> sleep at night?", "Do bees sleep at night?",
     "<p>Yes. Foragers rest for several hours at night, often holding on with their jaws.</p>"},
};

// The number of different colours, up to limit, in a widget's picture: a
// window or web view that was not drawn is one flat colour.
int Colours(const QImage& image, int limit = 8) {
    std::set<QRgb> seen;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3) {
            seen.insert(image.pixel(x, y));
            if (std::ssize(seen) >= limit) {
                return limit;
            }
        }
    }
    return static_cast<int>(seen.size());
}

bool WebViewDrawn(QWebEngineView* view) {
    return WaitFor([view] { return Colours(view->grab().toImage()) >= 4; }, 30000);
}

class Shots {
public:
    explicit Shots(std::filesystem::path folder) : m_folder(std::move(folder)) {}

    // Shows the window before the demonstration steps: some windows reset
    // controls when they are first drawn.
    void open(QWidget& window, const char* name) {
        window.show();
        if (!QTest::qWaitForWindowExposed(&window)) {
            fail(name, "window not shown");
        }
    }
    void save(QWidget& window, const char* name) {
        if (!window.isVisible()) {
            open(window, name);
        }
        QTest::qWait(300);  // let layouts settle and views paint
        const QImage image = window.grab().toImage();
        if (Colours(image) < 4) {
            fail(name, "window not drawn");
            return;
        }
        const auto file = m_folder / (std::string(name) + ".png");
        QImageWriter writer(QString::fromStdString(file.string()), "png");
        writer.setQuality(0);  // the smallest file; they are committed
        if (!writer.write(image)) {
            fail(name, "cannot write the picture");
            return;
        }
        std::printf("%s: %dx%d\n", file.c_str(), image.width(), image.height());
    }
    void fail(const char* name, const char* why) {
        std::fprintf(stderr, "%s: %s\n", name, why);
        m_failed = true;
    }
    bool failed() const { return m_failed; }

private:
    std::filesystem::path m_folder;
    bool m_failed = false;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    std::filesystem::create_directories(argv[1]);
    Shots shots(argv[1]);

    test::TempDir home;
    const auto programFolder = home / "Quillmint";
    EnsureProgramSubfolders(programFolder);
    test::HttpServer web;
    std::vector<test::FakeResult> results;
    for (std::size_t i = 0; i < std::size(kQuestions); ++i) {
        const auto path = "/question/" + std::to_string(i);
        results.push_back({web.url(path), kQuestions[i].title});
        web.serve(path, test::QuestionPage(kQuestions[i].subject, kQuestions[i].answer));
        WriteBytes(programFolder / "articles" / (std::to_string(i) + ".html"),
                   test::QuestionArticle(kQuestions[i].subject, kQuestions[i].answer));
    }
    web.serve("/search", test::ResultPage(results));
    WriteBytes(programFolder / "tempo.htm",
               test::QuestionPage(kQuestions[0].subject, kQuestions[0].answer));
    WriteBytes(programFolder / "my website.ftp",
               "[PROFIL]\r\nsname=my website\r\nadresa=127.0.0.1\r\nID=webmaster\r\npass=\r\n"
               "port=21\r\n");
    WriteBytes(programFolder / "blog.ftp",
               "[PROFIL]\r\nsname=blog\r\nadresa=ftp.blog.example\r\nID=anna\r\npass=\r\n"
               "port=21\r\n");

    test::FakeDialogs dialogs;
    test::FakeClipboard clipboard;
    test::FakeShell desktop;
    AppContext context{programFolder, dialogs, clipboard, desktop};
    context.searchHost = web.host();
    context.stackExchangeApi = web.url("");
    context.now = [] { return QDateTime(QDate(2026, 12, 8), QTime(10, 30)); };

    {
        Form6 harvester(context);
        shots.open(harvester, "harvester");
        test::FindNamed<QLineEdit>(harvester, "Text1")->setText(QStringLiteral("bees"));
        harvester.Command1_Click();
        auto* list = test::FindNamed<QListWidget>(harvester, "List1");
        if (!WaitFor([list] { return list->count() == std::ssize(kQuestions); })) {
            shots.fail("harvester", "the search found nothing");
        }
        list->setCurrentRow(0);
        harvester.Command4_Click();
        shots.save(harvester, "harvester");
    }
    {
        Form1 extractor(context);
        shots.open(extractor, "extractor");
        test::FindNamed<QRadioButton>(extractor, "Option3")->click();
        if (!WebViewDrawn(test::FindNamed<QWebEngineView>(extractor, "WebBrowser1"))) {
            shots.fail("extractor", "the article was not drawn");
        }
        shots.save(extractor, "extractor");
    }
    {
        Formins insertion;
        test::FindNamed<QLineEdit>(insertion, "Text1")->setText(QStringLiteral("pub-0000000000"));
        test::FindNamed<QLineEdit>(insertion, "Text2")->setText(QStringLiteral("Honey bees"));
        test::FindNamed<QLineEdit>(insertion, "Text3")
            ->setText(QStringLiteral("bees, honey, nectar, hive"));
        test::FindNamed<QCheckBox>(insertion, "Check1")->setChecked(true);
        shots.save(insertion, "insertion");
    }
    {
        Form7 about(context);
        shots.save(about, "about");
    }
    {
        test::TempDir site;
        std::filesystem::create_directories(site / "articles");
        std::filesystem::create_directories(site / "images");
        WriteBytes(site / "index.html", "<html><body>Welcome</body></html>\n");
        WriteBytes(site / "bees.html", test::QuestionArticle("Bees", std::string(6000, 'b')));
        WriteBytes(site / "style.css", "body { font-family: sans-serif; }\n");
        WriteBytes(site / "robots.txt", "User-agent: *\n");
        test::FtpServer ftp(site.path());
        frmmain client(context);
        shots.open(client, "ftp-client");
        test::FindNamed<QLineEdit>(client, "txtserver")->setText(QStringLiteral("127.0.0.1"));
        test::FindNamed<QLineEdit>(client, "txtport")->setText(QString::number(ftp.port()));
        test::FindNamed<QLineEdit>(client, "txtuser")->setText(QStringLiteral("user"));
        test::FindNamed<QLineEdit>(client, "txtpass")->setText(QStringLiteral("secret"));
        test::FindNamed<QPushButton>(client, "Command4")->click();
        auto* files = test::FindNamed<QAbstractItemView>(client, "ListView2");
        if (!WaitFor([files] { return files->model()->rowCount() >= 4; })) {
            shots.fail("ftp-client", "no listing from the FTP server");
        }
        shots.save(client, "ftp-client");

        auto* manager = new FrmConnect(context, &client);
        auto* profiles = test::FindNamed<QTreeWidget>(*manager, "TView1");
        const auto found = profiles->findItems(QStringLiteral("my website.ftp"),
                                               Qt::MatchExactly | Qt::MatchRecursive);
        shots.open(*manager, "site-manager");
        if (found.isEmpty()) {
            shots.fail("site-manager", "the saved site is not listed");
        } else {
            profiles->scrollToItem(found.front());
            QTest::mouseClick(profiles->viewport(), Qt::LeftButton, {},
                              profiles->visualItemRect(found.front()).center());
        }
        shots.save(*manager, "site-manager");
        client.zDisconnect_Click();
    }
    {
        // An upload halfway, from a server slow enough to catch it.
        test::TempDir site;
        test::TempDir uploads;
        WriteBytes(uploads / "bees.html", test::QuestionArticle("Bees", std::string(6000, 'b')));
        WriteBytes(uploads / "hive-tour.mp4", std::string(30000000, 'v'));
        WriteBytes(uploads / "index.html", "<html><body>Welcome</body></html>\n");
        test::FtpServerOptions slow;
        slow.rateBytesPerSecond = 1000000;
        test::FtpServer ftp(site.path(), slow);
        frmmain client(context);
        shots.open(client, "transfer");
        test::FindNamed<QLineEdit>(client, "txtserver")->setText(QStringLiteral("127.0.0.1"));
        test::FindNamed<QLineEdit>(client, "txtport")->setText(QString::number(ftp.port()));
        test::FindNamed<QLineEdit>(client, "txtuser")->setText(QStringLiteral("user"));
        test::FindNamed<QLineEdit>(client, "txtpass")->setText(QStringLiteral("secret"));
        test::FindNamed<QPushButton>(client, "Command4")->click();
        WaitFor([&client] { return !client.busy(); });
        client.localPane()->setFolder(uploads.path());
        auto* local = test::FindNamed<QAbstractItemView>(client, "ListView1");
        local->setCurrentIndex(local->model()->index(0, 0));
        local->selectAll();
        test::FindNamed<QAction>(client, "zLokUp")->trigger();
        QPointer<frmProg> prog = client.findChild<frmProg*>();
        if (!prog || !WaitFor([&prog] {
                return prog &&
                       test::FindNamed<QLabel>(*prog, "Label1")
                           ->text()
                           .contains(QStringLiteral("hive-tour.mp4")) &&
                       !test::FindNamed<QLabel>(*prog, "lbTimeLeft")->text().isEmpty();
            })) {
            shots.fail("transfer", "the upload did not start");
        } else {
            QTest::qWait(1200);
            shots.save(*prog, "transfer");
            prog->Command1_Click();
            WaitFor([&prog] { return prog.isNull(); });
        }
        WaitFor([&client] { return !client.busy(); });
        dialogs.clear();  // "Opertion Canceled."
    }
    if (!dialogs.shown().empty()) {
        std::fprintf(stderr, "unexpected message: %s\n",
                     dialogs.shown().front().text.toLocal8Bit().constData());
        return 1;
    }
    return shots.failed() ? 1 : 0;
}
