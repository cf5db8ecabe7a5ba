// The image file, read whole: one open whose descriptor is both checked and read, so what is
// read is what was checked, and a name that is not a regular file (a FIFO, a directory, a
// device) is refused without ever waiting on it. The open belongs to the platform
// (image_file_<platform>.cpp); measuring and reading are the same everywhere.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

namespace portboot {

constexpr std::uint32_t kMaxImageBytes = 0xFFFE;

struct Image {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint32_t length = 0;
    std::uint32_t paddedLength = 0;  // rounded up to even; the pad byte of an odd image is 0
};

enum class ImageRead {
    Read,
    CannotOpen,  // error: why the open failed
    TooLarge,    // longer than kMaxImageBytes, not measurable, or no regular file
    NoMemory,
    NotRead,  // error: why the read failed; 0 for a short or empty file
};

// Reads the file `name` into `image`; `error` holds the system's error number where it counts.
ImageRead ReadImageFile(const char* name, Image& image, int& error);

// The file opened for binary reading, or null: with notRegular set when the name is no regular
// file (it has no length to send), otherwise with errno saying why the open failed.
std::FILE* OpenImageFile(const char* name, bool& notRegular);

}  // namespace portboot
