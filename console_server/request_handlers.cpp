#include "request_handlers.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace conproxy {

namespace {

// One request as the handlers serve it: the record copied out of the region once (so a client
// writing during the command changes nothing we decided on) and bounds-checked access to the
// rest of the region.
struct ServedRequest {
    unsigned char* bytes;
    size_t size;
    ConsoleRequest request;
    const RequestRegion& shared;

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

    // After any console call that can wait (for keys, for the terminal's cursor answer, for a
    // slow terminal to take our output): the client may have shrunk the region meanwhile, and a
    // page that is gone must not be touched.
    void Measure() { size = shared.Size(); }

    // Fields are written one by one, after the data: data placed over the record (an offset
    // below 20) is what the client asked for, and the count written last is what it reads.
    void SetStatus(int32_t value) const { SetField(offsetof(ConsoleRequest, status), value); }
    void SetResult(uint32_t value) const { SetField(offsetof(ConsoleRequest, result), value); }

  private:
    template <typename Field>
    void SetField(size_t offset, Field value) const {
        if (offset + sizeof value <= size) {
            std::memcpy(bytes + offset, &value, sizeof value);
        }
    }
};

void HandleClearScreen(ServedRequest& region, Console& console) {
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
    region.Measure();
    region.SetStatus(0);
}

void HandleGetScreenInfo(ServedRequest& region, Console& console) {
    if (region.Data(kScreenInfoBytes) == nullptr) {
        return;
    }
    // A failed call leaves the bytes as they were.
    ConsoleScreenBufferInfo info{};
    if (!console.GetScreenInfo(info)) {
        return;
    }
    region.Measure();
    unsigned char* data = region.Data(kScreenInfoBytes);
    if (data != nullptr) {
        std::memcpy(data, &info, sizeof info);
    }
}

void HandleSetCursor(const ServedRequest& region, Console& console) {
    // Column and row are the low halves, signed; the high halves are ignored.
    const auto column = static_cast<int16_t>(static_cast<uint32_t>(region.request.dataOffset));
    const auto row = static_cast<int16_t>(region.request.count);
    console.SetCursor(ConsoleCoord{column, row});
}

void HandleInputRecord(ServedRequest& region, Console& console, bool remove) {
    if (region.Data(kInputRecordBytes) == nullptr) {
        region.SetResult(0);
        return;
    }
    InputRecord record{};
    uint32_t count = 0;
    const bool ok = remove ? console.ReadInput(record, count) : console.PeekInput(record, count);
    if (!ok) {
        count = 0;
    }
    if (remove) {
        region.Measure();
    }
    unsigned char* data = region.Data(kInputRecordBytes);
    if (data == nullptr) {
        region.SetResult(0);  // where the record still stands; the key is lost with the page
        return;
    }
    if (count > 0) {
        count = 1;
        std::memcpy(data, &record, sizeof record);
    }
    region.SetResult(count);
}

void HandleReadText(ServedRequest& region, Console& console) {
    char text[kRegionBytes];
    if (region.Data(region.request.count) == nullptr || region.request.count > sizeof text) {
        region.SetResult(0);
        return;
    }
    // Read into our own buffer: the read may wait for the user, and the region may shrink
    // under us meanwhile.
    uint32_t count = 0;
    if (!console.ReadText(text, region.request.count, count) || count > region.request.count) {
        count = 0;
    }
    region.Measure();
    unsigned char* data = region.Data(region.request.count);
    if (data == nullptr) {
        region.SetResult(0);
        return;
    }
    std::memcpy(data, text, count);
    region.SetResult(count);
}

void HandleWriteText(const ServedRequest& region, Console& console) {
    const unsigned char* data = region.Data(region.request.count);
    if (data == nullptr || region.request.count == 0) {
        return;
    }
    console.WriteText(reinterpret_cast<const char*>(data), region.request.count);
}

void ShowUnknownCommand(const ServedRequest& region, Console& console) {
    char line[48];
    std::snprintf(line, sizeof line, "***error*** Unknown command: %x",
                  static_cast<unsigned>(static_cast<uint32_t>(region.request.command)));
    console.ShowMessage(line);
}

}  // namespace

bool HandleRequest(const RequestRegion& shared, Console& console) {
    unsigned char* bytes = shared.Data();
    const size_t size = shared.Size();
    if (bytes == nullptr || size < sizeof(ConsoleRequest)) {
        return false;  // no request can stand in it
    }
    ServedRequest region{bytes, size, {}, shared};
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
            ShowUnknownCommand(region, console);
            break;
    }
    return false;
}

bool HandleRequest(unsigned char* bytes, size_t size, Console& console) {
    struct FixedBytes : RequestRegion {
        unsigned char* data;
        size_t size;
        FixedBytes(unsigned char* d, size_t s) : data(d), size(s) {}
        unsigned char* Data() const override { return data; }
        size_t Size() const override { return size; }
    };
    return HandleRequest(FixedBytes(bytes, size), console);
}

}  // namespace conproxy
