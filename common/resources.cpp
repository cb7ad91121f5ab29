#include "common/resources.h"

#include <QtGlobal>

static void initFirmwareResource()
{
    Q_INIT_RESOURCE(firmware);
}

namespace Common {

void initResources()
{
    initFirmwareResource();
}

} // namespace Common
