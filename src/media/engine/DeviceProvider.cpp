#include "media/engine/DeviceProvider.h"

#include "media/engine/QtDeviceProvider.h"
#include "media/engine/TestDeviceProvider.h"

std::shared_ptr<DeviceProvider> DeviceProvider::create(bool testDevices)
{
    if (testDevices)
        return std::make_shared<TestDeviceProvider>();
    return std::make_shared<QtDeviceProvider>();
}
