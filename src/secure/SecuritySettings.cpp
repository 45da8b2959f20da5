#include "secure/SecuritySettings.h"

#include "core/ProfileFile.h"

namespace {

const QString Section = QStringLiteral("Security");
const QString OnlyEncryptedKey = QStringLiteral("OnlyEncrypted");

} // namespace

void SecuritySettings::load(const QString &path)
{
    ProfileFile file(path);
    file.reload();
    OnlyEncrypted = file.readBool(Section, OnlyEncryptedKey, false);
}

bool SecuritySettings::save(const QString &path, QString *errorText) const
{
    ProfileFile file(path);
    file.reload();
    file.writeBool(Section, OnlyEncryptedKey, OnlyEncrypted);
    return file.save(errorText);
}
