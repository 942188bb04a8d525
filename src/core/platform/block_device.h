#pragma once
#include <sys/types.h>

#include <optional>
#include <string>

namespace kestrum {

// Whether the block device numbered dev (a file system's st_dev) is a spinning disk, as the
// kernel's sysfs flags it (queue/rotational): true or false, nullopt when sysfs cannot say (a
// file system without a block device of its own, an unknown device, a missing flag). A
// partition is followed to its whole disk, and a device-mapper or RAID device through its
// "slaves" to the devices under it, however deep; one spinning disk anywhere below makes the
// answer true. sysfsRoot is where sysfs is mounted ("/sys"), another folder for tests. Only a
// hint: virtual disks often claim to spin.
std::optional<bool> DeviceIsRotational(dev_t dev, const std::string& sysfsRoot = "/sys");

}  // namespace kestrum
