#include "image_file.h"

#include <cerrno>
#include <new>

namespace portboot {

namespace {

constexpr std::size_t kReasonSize = 128;  // the format and two numbers of at most five digits

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
    // A short or empty file sets no error number of its own: the description is that of 0, or
    // the platform's words for what came (ShortReadReason). Counted in bytes, so they can say
    // how many; an empty file reads nothing and is not read.
    errno = 0;
    image.readLength =
        static_cast<std::uint32_t>(std::fread(image.bytes.get(), 1, image.length, file.get()));
    if (image.length == 0 || image.readLength != image.length) {
        error = errno;
        return ImageRead::NotRead;
    }
    return ImageRead::Read;
}

std::string ShownImagePath(const std::string& currentDir, const std::string& name,
                           PathStyle style) {
    const bool windows = style == PathStyle::Windows;
    const auto separator = [windows](char c) { return c == '/' || (windows && c == '\\'); };
    const bool drive = windows && name.size() >= 2 && name[1] == ':' &&
                       ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
    // A name from the root, or on a drive of its own ("C:x" counts from that drive's own
    // directory, not from ours), has no place after the current directory.
    if ((!name.empty() && separator(name[0])) || drive) {
        return name;
    }
    return currentDir + (windows ? '\\' : '/') + name;
}

std::string ShortReadReason(const Image& image, const ConsoleTexts& texts) {
    if (image.length == 0) {
        return texts[Text::NoteEmptyFile];
    }
    const char* format = texts[Text::NoteShortRead];
    char reason[kReasonSize];
    const int length =
        std::snprintf(reason, sizeof reason, format, static_cast<unsigned>(image.readLength),
                      static_cast<unsigned>(image.length));
    return length > 0 ? std::string(reason) : std::string();
}

}  // namespace portboot
