#pragma once

#include <QObject>
#include <QPointer>

#include <memory>

namespace quill {

struct AppContext;
struct InsertionFields;
class Form1;
class Form6;
class Form7;
class Formins;
class frmmain;

// Moves the user between the windows. "Loading" a window creates it and runs
// its load sequence; "unloading" destroys it with its state. The harvester is
// created once and only hidden, so it keeps its lists.
class AppShell final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppShell)
public:
    explicit AppShell(AppContext& context);
    ~AppShell() override;

    // Program start: load and show the extractor window.
    void start();

    // Shows the window, loading it first when it is not loaded.
    void showForm1();
    void showForm6();
    void showForm7();
    void showFormins();
    // Opens the FTP client; the extractor stays loaded.
    void showFtpClient();

    // Loads the extractor without showing it when it is not loaded.
    Form1& loadForm1();
    void unloadForm1();

    Form1* form1() const;
    Form6* form6() const;
    Form7* form7() const;
    Formins* formins() const;
    frmmain* ftpClient() const;

private:
    void applyInsertion(const InsertionFields& fields);

    AppContext& m_context;
    QPointer<Form1> m_form1;
    std::unique_ptr<Form6> m_form6;
    QPointer<Form7> m_form7;
    QPointer<Formins> m_formins;
    QPointer<frmmain> m_ftpClient;
};

}  // namespace quill
