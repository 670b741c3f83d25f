#pragma once
// The one owner of a descriptor (a POSIX file descriptor; on Windows one of the C runtime's): it
// closes it on every way out, and hands it on when moved. No Qt.

namespace kbr::platform {

namespace file {
void Close(int fd);  // the system's own close, one implementation per system
}  // namespace file

class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(Descriptor&& other) noexcept : fd_(other.Take()) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) file::Close(fd_);
            fd_ = other.Take();
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) file::Close(fd_);
    }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it.
    int Take() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};

}  // namespace kbr::platform
