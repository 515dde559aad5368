#include "Resources.h"

#include <QtGlobal>
#include <mutex>

// Q_INIT_RESOURCE must be used outside any namespace.
static void RegisterSayalikeResources() {
    Q_INIT_RESOURCE(sayalike);
}

void InitResources() {
    static std::once_flag once;
    std::call_once(once, RegisterSayalikeResources);
}
