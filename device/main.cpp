// fluxmere-device: the recording-device stand-in as a program.

#include "device/device_program.h"

int main(int argc, char** argv) {
    return fluxmere::device::RunDeviceProgram(argc, argv, "fluxmere-device");
}
