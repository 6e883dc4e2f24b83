#include "Form6.h"

#include "BulkSave.h"
#include "ResultScan.h"
#include "common/ProgramFolder.h"
#include "common/TextCodec.h"
#include "common/TextOps.h"
#include "ftp/FtpSession.h"
#include "ftp/PublishFlow.h"
#include "ftp/SitePasswords.h"
#include "ftp/SiteProfiles.h"
#include "platform/AppContext.h"
#include "platform/Banner.h"
#include "platform/WebViewSettings.h"
#include "publish/PublishFolders.h"
#include "publish/PublishJob.h"

#include <QAccessible>
#include <QComboBox>
#include <QEvent>
#include <QExposeEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <QWebEngineView>
#include <QWindow>

namespace quill {
namespace {

// Editable from the start: the line edit it makes then follows it in the
// focus chain, so the window's tab order can pass through it.
QComboBox* NewEditableComboBox(QWidget* parent) {
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    return box;
}

}  // namespace

Form6::Form6(AppContext& context, QWidget* parent)
    : QWidget(parent),
      m_context(context),
      m_label1(new QLabel(QStringLiteral("Search Now  :"), this)),
      m_text1(new QLineEdit(this)),
      m_command1(new QPushButton(QStringLiteral("&Go >>"), this)),
      m_frame1(new QGroupBox(QStringLiteral("Depth"), this)),
      m_option1(new QRadioButton(QStringLiteral("5 Questions"), m_frame1)),
      m_option2(new QRadioButton(QStringLiteral("10 Questions"), m_frame1)),
      m_option3(new QRadioButton(QStringLiteral("20 Questions"), m_frame1)),
      m_frame2(new QGroupBox(QStringLiteral("Source"), this)),
      m_option4(new QRadioButton(QStringLiteral("&Web search"), m_frame2)),
      m_option5(new QRadioButton(QStringLiteral("Stack &Exchange"), m_frame2)),
      m_label3(new QLabel(QStringLiteral("S&ite :"), m_frame2)),
      m_combo1(NewEditableComboBox(m_frame2)),
      m_label4(new QLabel(this)),
      m_list1(new QListWidget(this)),
      m_webBrowserx(new QWebEngineView(this)),
      m_command5(new QPushButton(QStringLiteral("Save all Q && A"), this)),
      m_command4(new QPushButton(QStringLiteral("&Read the answer"), this)),
      m_command3(new QPushButton(QStringLiteral("&Next >>"), this)),
      m_cmdPublish(new QPushButton(QStringLiteral("&Publish articles..."), this)),
      m_lblProgress(new QLabel(this)),
      m_cmdStop(new QPushButton(QStringLiteral("&Stop"), this)),
      m_engine(context.programFolder, context.stackExchangeApi) {
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("Tarnwick's Quillmint 2012 v3"));
    resize(640, 620);

    auto* banner = new Banner(QStringLiteral("Label2"), this);
    connect(banner, &Banner::clicked, this, &Form6::Picture1_Click);

    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setBuddy(m_text1);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setAccessibleName(QStringLiteral("Search term"));
    m_text1->setFont(QFont(QStringLiteral("Trebuchet MS")));
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setDefault(true);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_option1->setObjectName(QStringLiteral("Option1"));
    m_option2->setObjectName(QStringLiteral("Option2"));
    m_option3->setObjectName(QStringLiteral("Option3"));
    m_option1->setChecked(true);
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    m_option4->setObjectName(QStringLiteral("Option4"));
    m_option5->setObjectName(QStringLiteral("Option5"));
    m_option4->setChecked(true);
    m_label3->setObjectName(QStringLiteral("Label3"));
    m_label3->setBuddy(m_combo1);
    m_combo1->setObjectName(QStringLiteral("Combo1"));
    m_combo1->setAccessibleName(QStringLiteral("Stack Exchange site"));
    m_combo1->lineEdit()->setAccessibleName(QStringLiteral("Site"));
    m_combo1->setToolTip(
        QStringLiteral("The site's API name or address, as stackoverflow or superuser.com"));
    m_combo1->setInsertPolicy(QComboBox::NoInsert);
    m_combo1->addItems({QStringLiteral("stackoverflow"), QStringLiteral("superuser"),
                        QStringLiteral("askubuntu"), QStringLiteral("serverfault"),
                        QStringLiteral("unix"), QStringLiteral("webmasters"),
                        QStringLiteral("wordpress"), QStringLiteral("webapps")});
    m_combo1->setEnabled(false);
    m_label4->setObjectName(QStringLiteral("Label4"));
    m_label4->setAccessibleName(QStringLiteral("Status"));
    m_list1->setObjectName(QStringLiteral("List1"));
    m_list1->setAccessibleName(QStringLiteral("Question titles"));
    m_list1->setFont(QFont(QStringLiteral("Verdana")));
    m_webBrowserx->setObjectName(QStringLiteral("WebBrowserx"));
    RestrictWebView(*m_webBrowserx, PageScripts::Off);  // shows downloaded pages as they are
    m_webBrowserx->setAccessibleName(QStringLiteral("Saved articles"));
    m_command5->setObjectName(QStringLiteral("Command5"));
    m_command4->setObjectName(QStringLiteral("Command4"));
    m_command3->setObjectName(QStringLiteral("Command3"));
    m_cmdPublish->setObjectName(QStringLiteral("cmdPublish"));
    m_cmdPublish->setToolTip(
        QStringLiteral("Send the saved articles to your web site: only what is new or changed"));
    // No accessible name: a screen reader reads the progress itself.
    m_lblProgress->setObjectName(QStringLiteral("lblProgress"));
    m_lblProgress->setTextFormat(Qt::PlainText);
    m_cmdStop->setObjectName(QStringLiteral("cmdStop"));
    m_cmdStop->setEnabled(false);

    auto* searchRow = new QHBoxLayout;
    searchRow->addWidget(m_label1);
    searchRow->addWidget(m_text1, 1);
    searchRow->addWidget(m_command1);

    auto* sourceRow = new QHBoxLayout(m_frame2);
    sourceRow->addWidget(m_option4);
    sourceRow->addWidget(m_option5);
    sourceRow->addSpacing(12);
    sourceRow->addWidget(m_label3);
    sourceRow->addWidget(m_combo1, 1);

    auto* depthRow = new QHBoxLayout(m_frame1);
    depthRow->addWidget(m_option1);
    depthRow->addWidget(m_option2);
    depthRow->addWidget(m_option3);
    depthRow->addStretch();

    auto* buttonRow = new QHBoxLayout;
    for (QPushButton* button : {m_command5, m_command4, m_command3, m_cmdPublish}) {
        button->setAutoDefault(true);  // Enter on a focused button presses that button
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        buttonRow->addWidget(button, 1);
    }

    auto* progressRow = new QHBoxLayout;
    progressRow->addWidget(m_lblProgress, 1);
    progressRow->addWidget(m_cmdStop);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(banner);
    layout->addLayout(searchRow);
    layout->addWidget(m_frame2);
    layout->addWidget(m_frame1);
    layout->addWidget(m_list1, 1);
    layout->addWidget(m_webBrowserx, 1);
    layout->addLayout(buttonRow);
    layout->addLayout(progressRow);
    layout->addWidget(m_label4);

    setTabOrder(m_text1, m_command1);
    setTabOrder(m_command1, m_option4);
    setTabOrder(m_option4, m_option5);
    setTabOrder(m_option5, m_combo1);
    setTabOrder(m_combo1, m_option1);
    setTabOrder(m_option1, m_option2);
    setTabOrder(m_option2, m_option3);
    setTabOrder(m_option3, m_list1);
    setTabOrder(m_list1, m_webBrowserx);
    setTabOrder(m_webBrowserx, m_command5);
    setTabOrder(m_command5, m_command4);
    setTabOrder(m_command4, m_command3);
    setTabOrder(m_command3, m_cmdPublish);
    setTabOrder(m_cmdPublish, m_cmdStop);

    connect(m_command1, &QPushButton::clicked, this, &Form6::Command1_Click);
    connect(m_command3, &QPushButton::clicked, this, &Form6::Command3_Click);
    connect(m_command4, &QPushButton::clicked, this, &Form6::Command4_Click);
    connect(m_command5, &QPushButton::clicked, this, &Form6::Command5_Click);
    connect(m_cmdPublish, &QPushButton::clicked, this, &Form6::cmdPublish_Click);
    connect(m_cmdStop, &QPushButton::clicked, this, &Form6::cmdStop_Click);
    connect(m_list1, &QListWidget::itemSelectionChanged, this, &Form6::List1_Click);
    connect(m_option5, &QRadioButton::toggled, m_combo1, &QComboBox::setEnabled);
    connect(&m_engine, &HarvestEngine::statusChanged, m_label4, &QLabel::setText);
    connect(&m_engine, &HarvestEngine::searched, this, &Form6::searched);
    connect(&m_engine, &HarvestEngine::fetched, this, &Form6::fetched);
    connect(&m_engine, &HarvestEngine::savingQuestion, this, &Form6::savingQuestion);
    connect(&m_engine, &HarvestEngine::questionSaved, this,
            [this](int, const SavedQuestion& saved) { questionSaved(saved); });
    connect(&m_engine, &HarvestEngine::savedAll, this, &Form6::savedAll);

    Form_Load();
}

Form6::~Form6() = default;

void Form6::Form_Load() {
    setList1Visible(true);
    m_command3->setEnabled(false);
    m_command4->setEnabled(false);
    m_cmdPublish->setEnabled(false);
}

// Any redraw of the window after it was covered, minimised or hidden makes
// the user press "Read the answer" again before going on.
void Form6::Form_Paint() {
    m_command3->setEnabled(false);
    for (Held& held : m_held) {
        held.enabled = held.enabled && held.button != m_command3;
    }
}

// "&Go >>" is the window's default button: Enter in any control that does
// not use the key itself runs Go, as a dialog's default button would.
void Form6::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        Command1_Click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Form6::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_watchingWindow && windowHandle() != nullptr) {
        windowHandle()->installEventFilter(this);
        m_watchingWindow = true;
    }
    Form_Paint();
    m_text1->setFocus();
}

// Closing or hiding the window ends its work; being minimised does not.
void Form6::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) {
        cmdStop_Click();
    }
}

bool Form6::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose &&
        windowHandle()->isExposed()) {
        Form_Paint();
    }
    return QWidget::eventFilter(watched, event);
}

void Form6::setList1Visible(bool visible) {
    m_list1->setVisible(visible);
    m_webBrowserx->setVisible(!visible);
}

int Form6::depthIndex() const {
    if (m_option1->isChecked()) {
        return 0;
    }
    if (m_option2->isChecked()) {
        return 1;
    }
    return m_option3->isChecked() ? 2 : 0;
}

void Form6::Command1_Click() {
    if (busy()) {
        return;
    }
    setList1Visible(true);
    m_command5->setEnabled(true);
    m_command5->setText(QStringLiteral("Save All"));
    m_command3->setEnabled(false);
    if (m_text1->text().isEmpty()) {
        m_context.dialogs.message(QStringLiteral("Please enter search term"), MessageIcon::None);
        m_text1->setFocus();
        return;
    }
    const bool stackExchange = m_option5->isChecked();
    const QString site = m_combo1->currentText().trimmed();
    if (stackExchange && site.isEmpty()) {
        m_context.dialogs.message(QStringLiteral("Please enter a Stack Exchange site"),
                                  MessageIcon::None);
        m_combo1->setFocus();
        return;
    }
    m_list1->clear();
    m_list2.clear();
    m_list2Selected = -1;
    m_found.clear();
    m_command4->setEnabled(true);

    // The hosts as they are now: tests and the shell may point them elsewhere.
    beginWork(QStringLiteral("Searching for questions..."));
    m_engine.search({.term = m_text1->text().toStdString(),
                     .depth = kDepths[depthIndex()],
                     .searchHost = m_context.searchHost,
                     .answersHost = m_context.answersHost,
                     .stackExchangeSite = stackExchange ? site.toStdString() : std::string()});
}

void Form6::searched(const SearchOutcome& outcome, bool stopped) {
    endWork(stopped ? QStringLiteral("Search stopped.") : QString());
    if (stopped) {
        return;
    }
    if (!outcome) {
        m_context.dialogs.message(
            QStringLiteral("The search failed: %1.").arg(VisibleControls(Qs(outcome.error))),
            MessageIcon::Exclamation);
        return;
    }
    m_found = outcome.entries;
    Command2_Click();
}

void Form6::Command2_Click() {
    const QSignalBlocker blocker(m_list1);
    for (const auto& entry : m_found) {
        m_list1->addItem(DisplayText(entry.title));
        m_list2.push_back(entry.address);
    }
    m_list1->clearSelection();
    m_list1->setCurrentRow(-1);
    m_list2Selected = -1;
}

void Form6::beginWork(const QString& progress) {
    m_held.clear();
    for (QPushButton* button : {m_command1, m_command3, m_command4, m_command5}) {
        m_held.push_back({button, button->isEnabled()});
        button->setEnabled(false);
    }
    m_cmdStop->setEnabled(true);
    showProgress(progress);
}

void Form6::endWork(const QString& progress) {
    const bool stopHadFocus = m_cmdStop->hasFocus();
    m_cmdStop->setEnabled(false);
    for (const Held& held : m_held) {
        held.button->setEnabled(held.enabled);
    }
    m_held.clear();
    showProgress(progress);
    if (stopHadFocus) {
        m_text1->setFocus();  // not lost with the disabled button
    }
}

// The label's text is its accessible name; the event makes a screen reader
// notice the change without the user moving to it.
void Form6::showProgress(const QString& text) {
    m_lblProgress->setText(text);
    QAccessibleEvent event(m_lblProgress, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&event);
}

void Form6::cmdStop_Click() {
    if (busy()) {
        m_engine.stop();
        showProgress(QStringLiteral("Stopping..."));
    }
}

void Form6::List1_Click() {
    const auto selected = m_list1->selectedItems();
    if (selected.isEmpty()) {
        m_list2Selected = -1;
        return;
    }
    m_list2Selected = m_list1->row(selected.front());
    m_list1->setToolTip(selected.front()->text());
}

void Form6::selectFirstIfNone() {
    const auto selected = m_list1->selectedItems();
    if ((selected.isEmpty() || selected.front()->text().isEmpty()) && m_list1->count() > 0) {
        m_list1->setCurrentRow(0);
    }
}

void Form6::Command4_Click() {
    selectFirstIfNone();
    m_command3->setEnabled(true);
}

void Form6::Command3_Click() {
    if (busy()) {
        return;
    }
    selectFirstIfNone();
    const std::string address = m_list2Selected >= 0 && m_list2Selected < std::ssize(m_list2)
                                    ? m_list2[m_list2Selected]
                                    : std::string();
    // With an empty list (after Save all) there is nothing to fetch: the
    // extractor opens on the page it has, which is also the way to the FTP client.
    if (!address.empty()) {
        beginWork(QStringLiteral("Fetching the question..."));
        m_engine.fetch(address, ProgramFile(m_context.programFolder, "/tempo.htm"));
        return;
    }
    hide();
    Q_EMIT showForm1Requested();
}

void Form6::fetched(const FetchOutcome& outcome, bool stopped) {
    endWork(stopped ? QStringLiteral("Fetching stopped.") : QString());
    if (stopped) {
        return;
    }
    if (!outcome) {
        m_context.dialogs.message(QStringLiteral("The question page could not be downloaded: %1.")
                                      .arg(VisibleControls(Qs(outcome.error))),
                                  MessageIcon::Exclamation);
        return;
    }
    hide();
    Q_EMIT showForm1Requested();
}

void Form6::Command5_Click() {
    if (busy()) {
        return;
    }
    m_command5->setEnabled(false);
    m_command4->setEnabled(false);
    if (m_list1->count() == 0) {
        m_context.dialogs.message(QStringLiteral("Make a search first"), MessageIcon::None);
        return;
    }
    m_list1->setCurrentRow(0);
    EnsureProgramSubfolders(m_context.programFolder);

    m_save = {.term = m_text1->text(), .problem = {}, .notDownloaded = {}, .savedAny = false};
    beginWork({});
    savingQuestion(0, m_list1->count());  // the caption changes with the click
    m_engine.saveAll(m_list2, m_save.term.toStdString());
}

void Form6::savingQuestion(int n, int count) {
    m_command5->setText(QStringLiteral("Saving Q && A %1").arg(n + 1));
    m_command5->repaint();  // at once, so each number shows however fast the saves go
    showProgress(QStringLiteral("Saving question %1 of %2").arg(n + 1).arg(count));
    selectFirstIfNone();
}

void Form6::questionSaved(const SavedQuestion& saved) {
    const std::string term = m_save.term.toStdString();
    m_save.savedAny = m_save.savedAny || saved.downloaded;
    if (!saved.downloaded) {
        m_save.notDownloaded << QStringLiteral("%1 (%2)").arg(m_list1->item(0)->text(),
                                                              Qs(saved.downloadError));
    } else if (!saved.error.empty() && m_save.problem.isEmpty()) {
        m_save.problem = IsSafeArticleName(term)
                             ? QStringLiteral("An article file could not be written:\n%1")
                                   .arg(VisibleControls(Qs(saved.error)))
                             : QStringLiteral(
                                   "The search term \"%1\" cannot name a file in the "
                                   "articles folder, so the combined article file was "
                                   "not written. The numbered article files are saved.")
                                   .arg(m_save.term);
    }
    if (saved.combinedWritten) {
        const auto combined = CombinedArticleFile(m_context.programFolder, term);
        m_webBrowserx->load(QUrl::fromLocalFile(QString::fromStdString(combined.native())));
    }
    m_list2.erase(m_list2.begin());
    delete m_list1->takeItem(0);
}

// A stopped Save all ends as a finished one does; the questions it did not
// reach stay in the lists.
void Form6::savedAll(bool stopped) {
    endWork(stopped ? QStringLiteral("Saving stopped.") : QString());
    m_list1->setEnabled(true);
    m_command3->setEnabled(true);
    m_cmdPublish->setEnabled(m_save.savedAny || m_cmdPublish->isEnabled());
    setList1Visible(false);
    QString problem = m_save.problem;
    if (!m_save.notDownloaded.isEmpty()) {
        const QString skipped =
            QStringLiteral("These questions could not be downloaded and were not saved:\n") +
            m_save.notDownloaded.join(QLatin1Char('\n'));
        problem = problem.isEmpty() ? skipped : problem + QStringLiteral("\n\n") + skipped;
    }
    if (!problem.isEmpty()) {
        m_context.dialogs.message(problem, MessageIcon::Exclamation);
    }
}

void Form6::cmdPublish_Click() {
    if (m_publish) {
        m_publish->stop();
        return;
    }
    const SiteProfiles profiles(m_context.programFolder);
    const std::vector<std::string> files = profiles.List();
    if (files.empty()) {
        m_context.dialogs.message(
            QStringLiteral("There is no saved site to publish to. Save your web site's FTP "
                           "details as a site in the FTP client (File, Connect) first."),
            MessageIcon::Exclamation);
        return;
    }
    QStringList sites;
    for (const std::string& file : files) {
        sites << DisplayText(SiteOfProfileFile(file));
    }
    QMap<QString, QString> folders;
    for (const auto& [site, folder] : LoadPublishFolders(m_context.programFolder)) {
        folders.insert(DisplayText(site), DisplayText(folder));
    }
    const auto target = m_context.dialogs.askPublishTarget(sites, folders);
    const auto index = target ? sites.indexOf(target->site) : -1;
    if (index < 0) {
        return;
    }
    const std::string& file = files[static_cast<std::size_t>(index)];
    const std::string site = SiteOfProfileFile(file);
    const std::string folder = target->folder.trimmed().toStdString();
    if (folder.empty() || HoldsLineBreak(folder) || folder.find('\0') != std::string::npos) {
        m_context.dialogs.message(QStringLiteral("The remote folder must be a name on one line."),
                                  MessageIcon::Exclamation);
        return;
    }
    const LoadedSite loaded = ReadSite(profiles, m_context.passwords, file);
    if (!loaded.problem.empty()) {
        m_context.dialogs.message(Qs(loaded.problem), MessageIcon::Exclamation);
        return;
    }
    const auto request = ConnectRequestFor(loaded.profile);
    if (!request) {
        m_context.dialogs.message(QStringLiteral("The site \"%1\" cannot be used: %2")
                                      .arg(target->site, Qs(request.error())),
                                  MessageIcon::Exclamation);
        return;
    }
    // Only a convenience: a folder not remembered is typed again.
    (void)RememberPublishFolder(m_context.programFolder, site, folder);
    EnsureProgramSubfolders(m_context.programFolder);
    const std::filesystem::path articles = m_context.programFolder / "articles";
    auto* job =
        new PublishJob(PublishConnector(ConnectParamsFor(*request, m_context.programFolder), site),
                       m_context.programFolder, site, articles, folder);
    m_publish =
        new PublishFlow(m_context, job, DisplayText(articles.native()),
                        target->folder.trimmed() + QStringLiteral(" on ") + target->site, this);
    connect(m_publish, &PublishFlow::logEntry, this, [this](const QString& entry) {
        m_label4->setText(entry.mid(3));  // without " > "
    });
    connect(m_publish, &PublishFlow::ended, this,
            [this](bool ran, const PublishTotals& totals, const QString& summary) {
                m_cmdPublish->setText(QStringLiteral("&Publish articles..."));
                m_label4->setText(summary);
                if (ran) {
                    m_context.dialogs.message(summary, totals.complete()
                                                           ? MessageIcon::Information
                                                           : MessageIcon::Exclamation);
                }
            });
    m_cmdPublish->setText(QStringLiteral("Stop &publishing"));
    m_publish->start();
}

void Form6::Picture1_Click() {
    m_context.shell.open(Qs(app::kProductPage));
}

}  // namespace quill
