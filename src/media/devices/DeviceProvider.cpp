#include "media/devices/DeviceProvider.h"

#include "media/devices/QtDeviceProvider.h"
#include "media/devices/TestDeviceProvider.h"

std::shared_ptr<DeviceProvider> DeviceProvider::create(bool testDevices)
{
    if (testDevices)
        return std::make_shared<TestDeviceProvider>();
    return std::make_shared<QtDeviceProvider>();
}
