#pragma once
// Which device a port number names: COMn is the device given by the key
// "COMn" in the "Serial port settings" section of the configuration file
// (e.g. COM1=/dev/ttyUSB0 or a /dev/serial/by-id path), otherwise
// /dev/ttyS<n-1>. Port 0 names no device.

#include <QString>

namespace quelm {

// Empty for port numbers below 1.
QString comDevicePath(int portNumber, const QString& iniPath);

}  // namespace quelm
