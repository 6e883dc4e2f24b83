#include "Form7.h"

#include "common/AppInfo.h"
#include "common/TextCodec.h"
#include "platform/AppContext.h"
#include "platform/Banner.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

namespace quill {

Form7::Form7(AppContext& context, QWidget* parent)
    : QWidget(parent),
      m_context(context),
      m_label1(new QLabel(this)),
      m_list1(new QListWidget(this)) {
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("About : Tarnwick Article extractor for content"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(560, 420);

    auto* banner = new Banner(QStringLiteral("Label3"), this);
    auto openProductPage = [this] { m_context.shell.open(Qs(app::kProductPage)); };
    connect(banner, &Banner::clicked, this, openProductPage);

    auto* label2 = new QLabel(QStringLiteral("Date :"), this);
    label2->setObjectName(QStringLiteral("Label2"));
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setText(QLocale::system().toString(m_context.now().date(), QLocale::ShortFormat));
    label2->setBuddy(m_label1);

    m_list1->setObjectName(QStringLiteral("List1"));
    m_list1->setAccessibleName(QStringLiteral("About Quillmint"));
    m_list1->setFont(QFont(QStringLiteral("Verdana")));
    m_list1->addItems({
        QStringLiteral("Company : Brindlecast"),
        QStringLiteral("Company Website : ") + Qs(app::kMakerSite),
        QStringLiteral("Sitemap : ") + Qs(app::kMakerSitemap),
        QStringLiteral("Software : Tarnwick's Quillmint 2012"),
        QStringLiteral("System : Version 3.0 designed for Windows"),
        QStringLiteral("Website : ") + Qs(app::kProductPage),
        QStringLiteral("Email : ") + Qs(app::kSupportEmail),
        QStringLiteral("Created by : ") + Qs(app::kAuthorCredit),
    });

    auto* command1 = new QPushButton(QStringLiteral("Visit Website >>"), this);
    command1->setObjectName(QStringLiteral("Command1"));
    auto* command3 = new QPushButton(QStringLiteral("<< Home"), this);
    command3->setObjectName(QStringLiteral("Command3"));
    connect(command1, &QPushButton::clicked, this, openProductPage);
    connect(command3, &QPushButton::clicked, this, &QWidget::close);

    auto* dateRow = new QHBoxLayout;
    dateRow->addWidget(label2);
    dateRow->addWidget(m_label1);
    dateRow->addStretch();
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(command3);
    buttonRow->addStretch();
    buttonRow->addWidget(command1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(banner);
    layout->addLayout(dateRow);
    layout->addWidget(m_list1, 1);
    layout->addLayout(buttonRow);
    command3->setFocus();
}

void Form7::closeEvent(QCloseEvent* event) {
    event->accept();
    Q_EMIT closed();
}

}  // namespace quill
