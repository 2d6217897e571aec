#pragma once

class QCoreApplication;

namespace desktop {

// The windows speak French: Qt's own buttons and dialogs (Oui, Non, Annuler, the file
// dialog) are made to speak it too, from Qt's translations installed on the system. False
// when they are not installed (Qt's texts then stay in English). The translator lives as
// long as the application.
bool useQtFrench(QCoreApplication &app);

} // namespace desktop
