#include "image_file.h"

#include <cerrno>
#include <new>

namespace portboot {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// False when the file cannot be measured or is too long, so the caller reports "too large".
bool MeasureFile(std::FILE* file, std::uint32_t& length) {
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return false;
    }
    const long end = std::ftell(file);
    if (end < 0 || static_cast<unsigned long>(end) > kMaxImageBytes ||
        std::fseek(file, 0, SEEK_SET) != 0) {
        return false;
    }
    length = static_cast<std::uint32_t>(end);
    return true;
}

}  // namespace

ImageRead ReadImageFile(const char* name, Image& image, int& error) {
    // Only a regular file has a length to send; a directory or a device has none.
    bool notRegular = false;
    File file(OpenImageFile(name, notRegular));
    if (notRegular) {
        return ImageRead::TooLarge;
    }
    if (!file) {
        error = errno;
        return ImageRead::CannotOpen;
    }
    if (!MeasureFile(file.get(), image.length)) {
        return ImageRead::TooLarge;
    }
    image.paddedLength = (image.length + 1) & 0xFFFEu;
    image.bytes.reset(new (std::nothrow) std::uint8_t[image.paddedLength]());
    if (!image.bytes) {
        return ImageRead::NoMemory;
    }
    // A short or empty file sets no error number of its own: the description is that of 0.
    errno = 0;
    if (std::fread(image.bytes.get(), image.length, 1, file.get()) != 1) {
        error = errno;
        return ImageRead::NotRead;
    }
    return ImageRead::Read;
}

}  // namespace portboot
