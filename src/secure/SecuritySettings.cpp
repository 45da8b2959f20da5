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
    OnlyEncrypted = file.readString(Section, OnlyEncryptedKey, QString(), 16)
                        .compare(QStringLiteral("True"), Qt::CaseInsensitive)
                    == 0;
}

bool SecuritySettings::save(const QString &path, QString *errorText) const
{
    ProfileFile file(path);
    file.reload();
    file.writeString(Section, OnlyEncryptedKey, OnlyEncrypted ? QStringLiteral("True") : QStringLiteral("False"));
    return file.save(errorText);
}
