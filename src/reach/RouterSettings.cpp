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
    AskRouter = file.readBool(Section, AskRouterKey, true);
    RouterAddress = file.readString(Section, RouterAddressKey, QString(), 512).trimmed();
}

bool RouterSettings::save(const QString &path, QString *errorText) const
{
    ProfileFile file(path);
    file.reload();
    file.writeBool(Section, AskRouterKey, AskRouter);
    file.writeString(Section, RouterAddressKey, RouterAddress);
    return file.save(errorText);
}
