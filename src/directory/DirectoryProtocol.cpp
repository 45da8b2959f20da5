#include "directory/DirectoryProtocol.h"

#include "core/Fields.h"

namespace DirectoryProtocol {

QByteArray emailLookup(const QString &address)
{
    QString field = Fields::singleLine(address.trimmed());
    field.remove(QLatin1Char(';'));
    return "GEM;" + Fields::toWire(field) + ";<ET>";
}

} // namespace DirectoryProtocol
