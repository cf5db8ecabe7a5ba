#include "request_handlers.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace conproxy {

namespace {

// One request as the handlers serve it: the record copied out of the region once (so a client
// writing during the command changes nothing we decided on), data copied into our own buffers
// before the console sees it, and answers copied back. Every touch goes through the region's
// Copy: a client may cut the region at any moment, during a wait for keys or for the terminal
// as much as between a measure and the touch after it. A copy that finds its page gone writes
// nothing; the count is still written where the record's page stands. Each touch asks the
// region's size again (a system call only after a resize): a region shrunk during a console
// call gets nothing written at or past its new end, also inside its last page, where no fault
// would tell.
struct ServedRequest {
    const RequestRegion& shared;
    ConsoleRequest request;

    // Whether the data area [dataOffset, dataOffset + length) lies inside the region.
    bool Fits(uint64_t length) const {
        if (request.dataOffset < 0) {
            return false;
        }
        const uint64_t offset = static_cast<uint64_t>(request.dataOffset);
        const size_t size = shared.Size();
        return offset <= size && length <= size - offset;
    }

    bool ReadData(void* to, uint64_t length) const {
        return Fits(length) && Touch(to, shared.Data() + request.dataOffset, length);
    }
    bool WriteData(const void* from, uint64_t length) const {
        return Fits(length) && Touch(shared.Data() + request.dataOffset, from, length);
    }

    // Fields are written one by one, after the data: data placed over the record (an offset
    // below 20) is what the client asked for, and the count written last is what it reads.
    void SetStatus(int32_t value) const { SetField(offsetof(ConsoleRequest, status), value); }
    void SetResult(uint32_t value) const { SetField(offsetof(ConsoleRequest, result), value); }

  private:
    bool Touch(void* to, const void* from, size_t length) const {
        return shared.Copy(to, from, length);
    }

    template <typename Field>
    void SetField(size_t offset, Field value) const {
        if (offset + sizeof value <= shared.Size()) {
            Touch(shared.Data() + offset, &value, sizeof value);
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
    region.SetStatus(0);
}

void HandleGetScreenInfo(ServedRequest& region, Console& console) {
    if (!region.Fits(kScreenInfoBytes)) {
        return;
    }
    // A failed call leaves the bytes as they were.
    ConsoleScreenBufferInfo info{};
    if (console.GetScreenInfo(info)) {
        region.WriteData(&info, sizeof info);
    }
}

void HandleSetCursor(const ServedRequest& region, Console& console) {
    // Column and row are the low halves, signed; the high halves are ignored.
    const auto column = static_cast<int16_t>(static_cast<uint32_t>(region.request.dataOffset));
    const auto row = static_cast<int16_t>(region.request.count);
    console.SetCursor(ConsoleCoord{column, row});
}

void HandleInputRecord(ServedRequest& region, Console& console, bool remove) {
    if (!region.Fits(kInputRecordBytes)) {
        region.SetResult(0);
        return;
    }
    InputRecord record{};
    uint32_t count = 0;
    const bool ok = remove ? console.ReadInput(record, count) : console.PeekInput(record, count);
    if (!ok || count == 0) {
        count = 0;
    } else if (region.WriteData(&record, sizeof record)) {
        count = 1;
    } else {
        count = 0;  // the key is lost with the page
    }
    region.SetResult(count);
}

void HandleReadText(ServedRequest& region, Console& console) {
    char text[kRegionBytes];
    if (!region.Fits(region.request.count) || region.request.count > sizeof text) {
        region.SetResult(0);
        return;
    }
    // Read into our own buffer: the read may wait for the user.
    uint32_t count = 0;
    if (!console.ReadText(text, region.request.count, count) || count > region.request.count) {
        count = 0;
    }
    // The whole area asked for must still stand, not only the part the read filled: a client
    // that cut it during the read gets no count.
    if (!region.Fits(region.request.count) || !region.WriteData(text, count)) {
        count = 0;
    }
    region.SetResult(count);
}

void HandleWriteText(ServedRequest& region, Console& console) {
    char text[kRegionBytes];
    const uint32_t count = region.request.count;
    if (count == 0 || count > sizeof text || !region.ReadData(text, count)) {
        return;
    }
    console.WriteText(text, count);
}

void ShowUnknownCommand(const ServedRequest& region, Console& console) {
    char line[48];
    std::snprintf(line, sizeof line, "***error*** Unknown command: %x",
                  static_cast<unsigned>(static_cast<uint32_t>(region.request.command)));
    console.ShowMessage(line);
}

}  // namespace

bool HandleRequest(const RequestRegion& shared, Console& console) {
    const size_t size = shared.Size();
    if (shared.Data() == nullptr || size < sizeof(ConsoleRequest)) {
        return false;  // no request can stand in it
    }
    ServedRequest region{shared, {}};
    if (!shared.Copy(&region.request, shared.Data(), sizeof region.request)) {
        return false;  // cut before the record could be read
    }

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
