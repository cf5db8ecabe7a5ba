// The version resource of each Windows program, read back from the built .exe as Windows reads
// it: the PE's resource directory, type RT_VERSION, and in it VS_VERSIONINFO with its fixed part
// (the numeric versions) and the strings of its StringFileInfo table.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

const char kProgramsDir[] = WINDOWS_PROGRAMS_DIR;
const char kVersion[] = PROJECT_VERSION;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;

std::uint16_t U16(const Bytes& b, std::size_t at) {
    if (at + 2 > b.size()) {
        throw std::out_of_range("read past the end at " + std::to_string(at));
    }
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return U16(b, at) | static_cast<std::uint32_t>(U16(b, at + 2)) << 16;
}

std::size_t Align4(std::size_t at) {
    return (at + 3) & ~static_cast<std::size_t>(3);
}

// A zero-terminated UTF-16 text of ASCII characters from `at`; `at` moves past the terminator.
std::string Utf16Text(const Bytes& b, std::size_t& at) {
    std::string text;
    for (std::uint16_t c = U16(b, at); c != 0; c = U16(b, at)) {
        text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        at += 2;
    }
    at += 2;
    return text;
}

struct VersionInfo {
    std::uint32_t fileVersionMs = 0, fileVersionLs = 0;
    std::uint32_t productVersionMs = 0, productVersionLs = 0;
    std::map<std::string, std::string> strings;  // StringFileInfo's values, any language
};

class PeFile {
  public:
    explicit PeFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            throw std::runtime_error("cannot read " + path);
        }
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const std::uint32_t pe = U32(bytes_, 0x3C);
        if (U32(bytes_, pe) != 0x4550) {  // "PE\0\0"
            throw std::runtime_error(path + ": no PE signature");
        }
        const std::size_t fileHeader = pe + 4;
        const std::uint16_t sections = U16(bytes_, fileHeader + 2);
        const std::uint16_t optionalSize = U16(bytes_, fileHeader + 16);
        const std::size_t optional = fileHeader + 20;
        // PE32 keeps its data directories at 96, PE32+ at 112.
        const std::size_t directories = optional + (U16(bytes_, optional) == 0x20B ? 112 : 96);
        resourceRva_ = U32(bytes_, directories + 8 * kResourceDirectoryIndex);
        const std::size_t table = optional + optionalSize;
        for (std::uint16_t i = 0; i < sections; ++i) {
            const std::size_t s = table + 40u * i;
            sections_.push_back({U32(bytes_, s + 12), U32(bytes_, s + 8), U32(bytes_, s + 20)});
        }
    }

    // The RT_VERSION resource's bytes (the first name, the first language), empty when none.
    Bytes VersionResource() const {
        if (resourceRva_ == 0) {
            return {};
        }
        const std::size_t root = Offset(resourceRva_);
        std::uint32_t entry = 0;
        if (!FindEntry(root, kRtVersion, entry) || (entry & 0x80000000u) == 0) {
            return {};
        }
        // Type, then name, then language: take the first of each below the type.
        std::size_t directory = root + (entry & 0x7FFFFFFFu);
        for (int level = 0; level < 2; ++level) {
            const std::uint16_t count = U16(bytes_, directory + 12) + U16(bytes_, directory + 14);
            if (count == 0) {
                return {};
            }
            entry = U32(bytes_, directory + 16 + 4);
            if (level == 0) {
                if ((entry & 0x80000000u) == 0) {
                    return {};
                }
                directory = root + (entry & 0x7FFFFFFFu);
            }
        }
        const std::size_t data = root + entry;
        const std::size_t at = Offset(U32(bytes_, data));
        const std::uint32_t size = U32(bytes_, data + 4);
        if (at + size > bytes_.size()) {
            throw std::out_of_range("the version resource runs past the file's end");
        }
        return Bytes(bytes_.begin() + static_cast<std::ptrdiff_t>(at),
                     bytes_.begin() + static_cast<std::ptrdiff_t>(at + size));
    }

  private:
    struct Section {
        std::uint32_t rva, size, fileOffset;
    };

    std::size_t Offset(std::uint32_t rva) const {
        for (const Section& s : sections_) {
            if (rva >= s.rva && rva < s.rva + s.size) {
                return s.fileOffset + (rva - s.rva);
            }
        }
        throw std::out_of_range("RVA " + std::to_string(rva) + " lies in no section");
    }

    bool FindEntry(std::size_t directory, std::uint32_t id, std::uint32_t& entry) const {
        const std::uint16_t named = U16(bytes_, directory + 12);
        const std::uint16_t ids = U16(bytes_, directory + 14);
        for (std::uint16_t i = named; i < named + ids; ++i) {
            if (U32(bytes_, directory + 16 + 8u * i) == id) {
                entry = U32(bytes_, directory + 16 + 8u * i + 4);
                return true;
            }
        }
        return false;
    }

    Bytes bytes_;
    std::uint32_t resourceRva_ = 0;
    std::vector<Section> sections_;
};

// One block: wLength, wValueLength, wType, szKey, padding, the value, padding, the children.
struct Block {
    std::size_t begin, end;  // the whole block
    std::string key;
    std::size_t value;  // where the value begins
    std::uint16_t valueLength;
    std::size_t children;  // where the first child begins
};

Block ReadBlock(const Bytes& b, std::size_t at) {
    Block block;
    block.begin = at;
    block.end = at + U16(b, at);
    block.valueLength = U16(b, at + 2);
    const bool text = U16(b, at + 4) == 1;
    std::size_t next = at + 6;
    block.key = Utf16Text(b, next);
    block.value = Align4(next);
    // A text value counts its UTF-16 characters, a binary one its bytes.
    block.children = Align4(block.value + block.valueLength * (text ? 2u : 1u));
    if (block.end > b.size() || block.end <= at) {
        throw std::out_of_range("a block of the version resource is cut");
    }
    return block;
}

VersionInfo ParseVersionInfo(const Bytes& b) {
    VersionInfo info;
    const Block root = ReadBlock(b, 0);
    if (root.key != "VS_VERSION_INFO" || root.valueLength < 52 ||
        U32(b, root.value) != kFixedInfoSignature) {
        throw std::runtime_error("no VS_VERSION_INFO with its fixed part");
    }
    info.fileVersionMs = U32(b, root.value + 8);
    info.fileVersionLs = U32(b, root.value + 12);
    info.productVersionMs = U32(b, root.value + 16);
    info.productVersionLs = U32(b, root.value + 20);
    for (std::size_t at = root.children; at < root.end;) {
        const Block group = ReadBlock(b, at);
        if (group.key == "StringFileInfo") {
            for (std::size_t t = group.children; t < group.end;) {
                const Block table = ReadBlock(b, t);
                for (std::size_t v = table.children; v < table.end;) {
                    const Block value = ReadBlock(b, v);
                    std::size_t text = value.value;
                    info.strings[value.key] = value.valueLength > 0 ? Utf16Text(b, text) : "";
                    v = Align4(value.end);
                }
                t = Align4(table.end);
            }
        }
        at = Align4(group.end);
    }
    return info;
}

class VersionResource : public testing::TestWithParam<std::string> {};

TEST_P(VersionResource, CarriesTheProjectsVersion) {
    const std::string file = GetParam();
    const Bytes resource = PeFile(std::string(kProgramsDir) + "/" + file).VersionResource();
    ASSERT_FALSE(resource.empty()) << file << " has no version resource";
    const VersionInfo info = ParseVersionInfo(resource);

    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(kVersion, "%u.%u.%u", &major, &minor, &patch), 3) << kVersion;
    EXPECT_EQ(info.fileVersionMs, major << 16 | minor);
    EXPECT_EQ(info.fileVersionLs, patch << 16);
    EXPECT_EQ(info.productVersionMs, info.fileVersionMs);
    EXPECT_EQ(info.productVersionLs, info.fileVersionLs);
    const auto value = [&info](const char* key) {
        auto found = info.strings.find(key);
        return found == info.strings.end() ? std::string("(none)") : found->second;
    };
    EXPECT_EQ(value("FileVersion"), kVersion);
    EXPECT_EQ(value("ProductVersion"), kVersion);
    EXPECT_EQ(value("OriginalFilename"), file);
    EXPECT_EQ(value("ProductName"), "portboot and conproxy");
    EXPECT_NE(value("FileDescription"), "(none)");
    EXPECT_NE(value("FileDescription"), "");
}

INSTANTIATE_TEST_SUITE_P(WindowsPrograms, VersionResource,
                         testing::Values("PORTBOOT.EXE", "CONPROXY.EXE", "conclient.exe"),
                         [](const testing::TestParamInfo<std::string>& param) {
                             std::string name = param.param;
                             for (char& c : name) {
                                 c = c == '.' ? '_' : c;
                             }
                             return name;
                         });

}  // namespace
