#include "reach/RouterSettings.h"

#include "core/ProfileFile.h"

namespace {

const QString Section = QStringLiteral("Router");
const QString AskRouterKey = QStringLiteral("AskRouter");
const QString RouterAddressKey = QStringLiteral("RouterAddress");

} // namespace

void RouterSettings::load(const QString &path)
{
    ProfileFile file(path);
    file.reload();
    AskRouter = file.readString(Section, AskRouterKey, QStringLiteral("True"), 16)
                    .compare(QStringLiteral("False"), Qt::CaseInsensitive)
                != 0;
    RouterAddress = file.readString(Section, RouterAddressKey, QString(), 512).trimmed();
}

bool RouterSettings::save(const QString &path, QString *errorText) const
{
    ProfileFile file(path);
    file.reload();
    file.writeString(Section, AskRouterKey, AskRouter ? QStringLiteral("True") : QStringLiteral("False"));
    file.writeString(Section, RouterAddressKey, RouterAddress);
    return file.save(errorText);
}
