#pragma once

#include <QString>

// Why a data file could not be written; shown as "<text>" + code + " : " + description.
struct FileError
{
    int code = 0;
    QString description;

    explicit operator bool() const { return code != 0; }
};
