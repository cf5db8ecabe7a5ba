#include "request_handlers.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// Bytes of the data area each command touches.
constexpr uint64_t kScreenInfoBytes = sizeof(ConsoleScreenBufferInfo);
constexpr uint64_t kInputRecordBytes = sizeof(InputRecord);

// The region as the handlers see it: the request copied out once (so a client writing during
// the command changes nothing we decided on) and bounds-checked access to the rest.
struct Region {
    unsigned char* bytes;
    size_t size;
    ConsoleRequest request;

    // The data area [dataOffset, dataOffset + length), or null when any of it lies outside.
    unsigned char* Data(uint64_t length) const {
        if (request.dataOffset < 0) {
            return nullptr;
        }
        const uint64_t offset = static_cast<uint64_t>(request.dataOffset);
        if (offset > size || length > size - offset) {
            return nullptr;
        }
        return bytes + offset;
    }

    // Fields are written one by one, after the data: data placed over the record (an offset
    // below 20) is what the client asked for, and the count written last is what it reads.
    void SetStatus(int32_t value) const {
        std::memcpy(bytes + offsetof(ConsoleRequest, status), &value, sizeof value);
    }
    void SetResult(uint32_t value) const {
        std::memcpy(bytes + offsetof(ConsoleRequest, result), &value, sizeof value);
    }
};

void HandleClearScreen(const Region& region, Console& console) {
    ConsoleScreenBufferInfo info{};
    if (console.GetScreenInfo(info)) {
        // Width and height are signed 16-bit; a product that is not positive fills nothing
        // rather than becoming an enormous unsigned count.
        const int32_t cells = int32_t{info.size.x} * int32_t{info.size.y};
        if (cells > 0) {
            console.FillBlanks(static_cast<uint32_t>(cells), ConsoleCoord{0, 0});
        }
    }
    console.SetCursor(ConsoleCoord{0, 0});
    region.SetStatus(0);
}

void HandleGetScreenInfo(const Region& region, Console& console) {
    unsigned char* data = region.Data(kScreenInfoBytes);
    if (data == nullptr) {
        return;
    }
    // A failed call leaves the bytes as they were.
    ConsoleScreenBufferInfo info{};
    if (console.GetScreenInfo(info)) {
        std::memcpy(data, &info, sizeof info);
    }
}

void HandleSetCursor(const Region& region, Console& console) {
    // Column and row are the low halves, signed; the high halves are ignored.
    const auto column = static_cast<int16_t>(static_cast<uint32_t>(region.request.dataOffset));
    const auto row = static_cast<int16_t>(region.request.count);
    console.SetCursor(ConsoleCoord{column, row});
}

void HandleInputRecord(const Region& region, Console& console, bool remove) {
    unsigned char* data = region.Data(kInputRecordBytes);
    if (data == nullptr) {
        region.SetResult(0);
        return;
    }
    InputRecord record{};
    uint32_t count = 0;
    const bool ok = remove ? console.ReadInput(record, count) : console.PeekInput(record, count);
    if (!ok) {
        count = 0;
    }
    if (count > 0) {
        count = 1;
        std::memcpy(data, &record, sizeof record);
    }
    region.SetResult(count);
}

void HandleReadText(const Region& region, Console& console) {
    unsigned char* data = region.Data(region.request.count);
    if (data == nullptr) {
        region.SetResult(0);
        return;
    }
    uint32_t count = 0;
    if (!console.ReadText(reinterpret_cast<char*>(data), region.request.count, count) ||
        count > region.request.count) {
        count = 0;
    }
    region.SetResult(count);
}

void HandleWriteText(const Region& region, Console& console) {
    const unsigned char* data = region.Data(region.request.count);
    if (data == nullptr || region.request.count == 0) {
        return;
    }
    console.WriteText(reinterpret_cast<const char*>(data), region.request.count);
}

}  // namespace

bool HandleRequest(unsigned char* bytes, size_t size, Console& console) {
    if (bytes == nullptr || size < sizeof(ConsoleRequest)) {
        return false;  // no request can stand in it
    }
    Region region{bytes, size, {}};
    std::memcpy(&region.request, bytes, sizeof region.request);

    switch (region.request.command) {
        case ConClearScreen:
            HandleClearScreen(region, console);
            break;
        case ConExit:
            region.SetStatus(0);
            return true;
        case ConGetScreenInfo:
            HandleGetScreenInfo(region, console);
            break;
        case ConSetCursor:
            HandleSetCursor(region, console);
            break;
        case ConNop5:
        case ConNop10:
            break;
        case ConPeekInput:
            HandleInputRecord(region, console, false);
            break;
        case ConReadInput:
            HandleInputRecord(region, console, true);
            break;
        case ConReadText:
            HandleReadText(region, console);
            break;
        case ConWriteText:
            HandleWriteText(region, console);
            break;
        default:
            // By printf on stdout rather than the console calls; flushed so it is out before the
            // reply.
            std::printf("\n***error*** Unknown command: %x\n",
                        static_cast<unsigned>(static_cast<uint32_t>(region.request.command)));
            std::fflush(stdout);
            break;
    }
    return false;
}
