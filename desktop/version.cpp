#include "version.h"

namespace desktop {

QString version() {
    return QStringLiteral(PELMORA_VERSION);
}

} // namespace desktop
