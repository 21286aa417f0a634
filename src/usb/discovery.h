// Plain decisions of device discovery, apart from the window.
#pragma once

#include <string>

// The vendor and product id texts of a device path: the 4 characters that
// start 4 characters after the first "VID" and after the first "PID"
// (case-sensitive), as in ...VID_0483&PID_0525... False when either is
// missing or the path ends before its 4 characters.
bool idsFromDevicePath(const std::string& path, std::string* vendorText, std::string* productText);
