// Finding the one BeamDock adapter among the USB-to-UART bridges.
#pragma once

#include <cstdint>
#include <string>

// Result 0 and nPort set, or a discovery code (0x01-0x09 passed through, 0xFD, 0xFE, 0xFF).
// BEAMDOCK_PORT, when set, names the device and discovery reports exactly that device.
uint8_t FindComPort(int nDefPort, int& nPort, const std::string& sysRoot = "/sys");

// The one place where a port number becomes a device node.
std::string PortDeviceName(int nPort);
