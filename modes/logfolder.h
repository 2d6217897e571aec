#pragma once

#include <QString>

namespace modes {

// Makes a window's own log folder the program's current directory, creating it when
// missing, and keeps it so (later logs of the other windows land there too). On Windows the
// folder is `windowsPath` ("c:\log"); elsewhere it is `name` ("log") under the program's
// data folder, beside the charge and discharge logs' folder. Returns the folder, or an empty
// string with the reason in `error` when it can be neither created nor entered (the current
// directory is then left as it was).
QString enterLogFolder(const QString &windowsPath, const QString &name, QString *error);

} // namespace modes
