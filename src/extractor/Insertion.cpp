#include "Insertion.h"

#include "common/AppInfo.h"
#include "common/TextCodec.h"

namespace quill {

QString InitialScriptOpening() {
    return QStringLiteral("<CenteR><script type=\"text/javascript\"><!--\r\n");
}

QString InitialScriptClosing() {
    return QStringLiteral(
               "\r\n"
               "google_ad_width = 728;\r\n"
               "google_ad_height = 90;\r\n"
               "google_ad_format = \"728x90_as\";\r\n"
               "google_ad_channel =\"\";\r\n"
               "google_ad_type = \"text_image\";\r\n"
               "//--></script></center>\r\n"
               "<script type=\"text/javascript\"\r\n"
               "  src=\"http://") +
           Qs(app::kAdScriptHost) +
           QStringLiteral(
               "/pagead/show_ads.js\">\r\n"
               "</script>\r\n");
}

QString BuildInsertion(const InsertionFields& fields, const QString& article) {
    const bool hasId = !fields.adsenseId.isEmpty();
    const QString subject = fields.subject.isEmpty() ? QStringLiteral("-") : fields.subject;
    const QString keywords = fields.keywords.isEmpty() ? QStringLiteral("-") : fields.keywords;

    QString a = article;
    if (fields.dynamicDate) {
        a = QStringLiteral("Date : ") +
            QStringLiteral("<script>document.write(Date());</script><BR><BR>") + a;
    }
    a = QStringLiteral("Subject : ") + subject + QStringLiteral("<BR><BR>Keywords : ") + keywords +
        QStringLiteral("<Br><BR>") + a;
    if (hasId) {
        a = fields.scriptOpening + QStringLiteral("google_ad_client = \"") + fields.adsenseId +
            QStringLiteral("\";") + fields.scriptClosing + a;
    }
    return a;
}

}  // namespace quill
