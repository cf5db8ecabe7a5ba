// The image file, read whole: one open whose descriptor is both checked and read, so what is
// read is what was checked, and a name that is not a regular file (a FIFO, a device) is refused
// without ever waiting on it; a directory is a file that cannot be opened. The open belongs to the
// platform (image_file_<platform>.cpp); measuring and reading are the same everywhere.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "console_texts.h"

namespace portboot {

constexpr std::uint32_t kMaxImageBytes = 0xFFFE;

struct Image {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint32_t length = 0;
    std::uint32_t paddedLength = 0;  // rounded up to even; the pad byte of an odd image is 0
    std::uint32_t readLength = 0;    // what the read gave, `length` unless it came short
};

enum class ImageRead {
    Read,
    CannotOpen,  // error: why the open failed (a directory's too)
    TooLarge,    // longer than kMaxImageBytes, not measurable, or a FIFO or a device
    NoMemory,
    NotRead,  // error: why the read failed; 0 for a short or empty file
};

// Reads the file `name` into `image`; `error` holds the system's error number where it counts.
ImageRead ReadImageFile(const char* name, Image& image, int& error);

// The file opened for binary reading, or null: with notRegular set when the name is a FIFO or a
// device (it has no length to send), otherwise with errno saying why the open failed, a
// directory included.
std::FILE* OpenImageFile(const char* name, bool& notRegular);

// How the platform's file names say where they are.
enum class PathStyle { Posix, Windows };
extern const PathStyle kPathStyle;  // image_file_<platform>.cpp

// The image's path as the information block shows it: a relative name after the current
// directory and the separator; a name that says its own directory or drive (Windows: "C:\x",
// "\x", "C:x", "\\server\share\x") as it was typed.
std::string ShownImagePath(const std::string& currentDir, const std::string& name, PathStyle style);

// The platform's words for a read that gave fewer bytes than the file measured and set no error
// number, in the console's encoding (the empty file, or how much came); empty where the
// description of error number 0 is said instead.
std::string ShortReadReason(const Image& image, const ConsoleTexts& texts);

}  // namespace portboot
