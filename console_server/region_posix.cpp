// The request region on POSIX: the first kRegionBytes of a shared-memory object, made or opened
// by the protocol's create-or-open and measured again after each resize the watch reports.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console_records.h"
#include "created_names_posix.h"
#include "named_object_posix.h"
#include "region_guard_posix.h"
#include "rendezvous.h"
#include "resize_watch_posix.h"

namespace conproxy {

NamedRegion::~NamedRegion() {
    if (data_ != nullptr) {
        munmap(data_, kRegionBytes);
    }
    CloseObject(native_, resizeWatch_, name_, created_);
}

SystemError NamedRegion::CreateOrOpen(const std::string& name) {
    const int fd = OpenObject(name, kRegionBytes, name_, created_, refusal_);
    if (fd < 0) {
        return LastSystemError();
    }
    native_ = fd;
    // The object has just been grown to at least the mapping's size; Size() measures it again
    // before each request, since it may shrink under us.
    void* data = mmap(nullptr, kRegionBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        return LastSystemError();
    }
    data_ = static_cast<unsigned char*>(data);
    size_ = kRegionBytes;
    GuardRegion(data_, size_);
    resizeWatch_ = WatchResizes(fd);
    return 0;
}

bool NamedRegion::Copy(void* to, const void* from, size_t bytes) const {
    return GuardedCopy(to, from, bytes);
}

size_t NamedRegion::Size() const {
    // A client may shrink the object after we mapped it; touching a page past its new end
    // would kill the server with SIGBUS, so serve only what is there now.
    if (!ResizedSince(resizeWatch_, resizesSeen_)) {
        return measured_;
    }
    struct stat st {};
    if (native_ < 0 || fstat(static_cast<int>(native_), &st) != 0) {
        resizesSeen_ = -1;  // measured again next time
        return 0;
    }
    const auto now = static_cast<size_t>(st.st_size < 0 ? 0 : st.st_size);
    measured_ = now < size_ ? now : size_;
    // A region cut and grown again has lost its pages; without them we serve nothing rather
    // than die at the first store.
    if (!conproxy_protocol::ReservePages(static_cast<int>(native_), measured_)) {
        measured_ = 0;
    }
    return measured_;
}

}  // namespace conproxy
