#pragma once

#include <QByteArray>
#include <QString>

// Texts of the directory server channel ("<ET>"-terminated). Every message the program
// sends to the directory server is built here.
namespace DirectoryProtocol {

// "GEM;" + address + ";<ET>": asks which user has this e-mail address.
QByteArray emailLookup(const QString &address);

} // namespace DirectoryProtocol
