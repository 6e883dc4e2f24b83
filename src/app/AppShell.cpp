#include "AppShell.h"

#include "extractor/Form1.h"
#include "extractor/Form7.h"
#include "extractor/Formins.h"
#include "ftp/frmmain.h"
#include "harvester/Form6.h"
#include "platform/AppContext.h"

namespace quill {

AppShell::AppShell(AppContext& context) : m_context(context) {
}

AppShell::~AppShell() {
    delete m_ftpClient.data();
    delete m_formins.data();
    delete m_form7.data();
    delete m_form1.data();
}

Form1* AppShell::form1() const {
    return m_form1;
}

Form6* AppShell::form6() const {
    return m_form6.get();
}

Form7* AppShell::form7() const {
    return m_form7;
}

Formins* AppShell::formins() const {
    return m_formins;
}

frmmain* AppShell::ftpClient() const {
    return m_ftpClient;
}

void AppShell::start() {
    showForm1();
}

Form1& AppShell::loadForm1() {
    if (!m_form1) {
        m_form1 = new Form1(m_context);
        m_form1->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_form1, &Form1::finishRequested, this, [this] {
            unloadForm1();
            showForm6();
        });
        connect(m_form1, &Form1::aboutRequested, this, [this] {
            unloadForm1();
            showForm7();
        });
        connect(m_form1, &Form1::insertionRequested, this, &AppShell::showFormins);
        connect(m_form1, &Form1::ftpUploadRequested, this, &AppShell::showFtpClient);
    }
    return *m_form1;
}

void AppShell::unloadForm1() {
    if (Form1* form = m_form1) {
        m_form1 = nullptr;
        // The request may come from inside one of the window's own handlers.
        form->hide();
        form->deleteLater();
    }
}

void AppShell::showForm1() {
    Form1& form = loadForm1();
    form.show();
    form.raise();
    form.activateWindow();
}

void AppShell::showForm6() {
    if (!m_form6) {
        m_form6 = std::make_unique<Form6>(m_context);
        connect(m_form6.get(), &Form6::showForm1Requested, this, &AppShell::showForm1);
    }
    m_form6->show();
    m_form6->raise();
    m_form6->activateWindow();
}

void AppShell::showForm7() {
    if (!m_form7) {
        m_form7 = new Form7(m_context);
        // Show the harvester before the About window is gone, so the program
        // never sees a moment without a visible window and quits.
        connect(m_form7, &Form7::closed, this, &AppShell::showForm6);
    }
    m_form7->show();
    m_form7->raise();
    m_form7->activateWindow();
}

void AppShell::showFormins() {
    if (!m_formins) {
        m_formins = new Formins;
        connect(m_formins, &Formins::insertionAccepted, this, &AppShell::applyInsertion);
    }
    m_formins->show();
    m_formins->raise();
    m_formins->activateWindow();
}

void AppShell::showFtpClient() {
    if (!m_ftpClient) {
        m_ftpClient = new frmmain(m_context);
        m_ftpClient->setAttribute(Qt::WA_DeleteOnClose);
        // Closing the client (and its About) brings the extractor back, loading
        // it again if it was unloaded meanwhile.
        connect(m_ftpClient, &frmmain::showForm1Requested, this, &AppShell::showForm1);
    }
    m_ftpClient->show();
    m_ftpClient->raise();
    m_ftpClient->activateWindow();
}

void AppShell::applyInsertion(const InsertionFields& fields) {
    Form1& form = loadForm1();
    form.setArticleText(BuildInsertion(fields, form.articleText()));
}

}  // namespace quill
