#include "icon.h"

namespace desktop {

QIcon appIcon() {
    QIcon icon;
    for (int size : {16, 32, 64, 256})
        icon.addFile(QStringLiteral(":/icons/pelmora-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace desktop
