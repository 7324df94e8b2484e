// Stubs of the page's recording and firmware parts, so the page builds and
// runs before those parts exist. Each part removes its stubs from here.
#include <QNetworkReply>

#include "tarnlitesystemtab.h"
#include "vqs.h"

// ---- firmware (tab_firmware.cpp) ----
