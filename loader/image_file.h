// Opening the image file: one open whose descriptor is both checked and read, so what is read
// is what was checked, and a name that is not a regular file (a FIFO, a directory, a device) is
// refused without ever waiting on it.
#pragma once

#include <cstdio>

namespace portboot {

// The file opened for binary reading, or null: with notRegular set when the name is no regular
// file (it has no length to send), otherwise with errno saying why the open failed.
std::FILE* OpenImageFile(const char* name, bool& notRegular);

}  // namespace portboot
