#include "media/MediaFormatSettings.h"

#include "core/ProfileFile.h"

namespace {

const QString Section = QStringLiteral("Media");
const QString PublishedOnlyKey = QStringLiteral("PublishedFormatsOnly");

} // namespace

void MediaFormatSettings::load(const QString &path)
{
    ProfileFile file(path);
    file.reload();
    PublishedFormatsOnly = file.readBool(Section, PublishedOnlyKey, false);
}

bool MediaFormatSettings::save(const QString &path, QString *errorText) const
{
    ProfileFile file(path);
    file.reload();
    file.writeBool(Section, PublishedOnlyKey, PublishedFormatsOnly);
    return file.save(errorText);
}
