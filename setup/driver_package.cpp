#include "driver_package.h"

DriverPackageInfo g_driverPackage;
