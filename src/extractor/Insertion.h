#pragma once

#include <QString>

namespace quill {

struct InsertionFields {
    QString adsenseId;
    QString subject;
    QString keywords;
    bool dynamicDate = false;
    QString scriptOpening;  // the editable opening part of the advert script
    QString scriptClosing;  // the editable closing part
};

// Initial texts of the two advert script fields.
QString InitialScriptOpening();
QString InitialScriptClosing();

// The article with the insertion blocks in front, from the top: the advert
// script (when an id is given), the subject and keywords header (an empty
// field shows "-"), the date line (when chosen), then the article. Fields are
// inserted exactly as typed.
QString BuildInsertion(const InsertionFields& fields, const QString& article);

}  // namespace quill
