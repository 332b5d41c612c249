// File copies on POSIX systems: copy_file_range where the kernel offers it,
// read and write otherwise.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/platform.h"

namespace kestrova::platform {

namespace {

// Large enough that the per-chunk progress call costs nothing, small enough
// that a cancellation is answered at once.
constexpr std::size_t kChunkBytes = 1u << 20;

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    // Closes now, so that a failed close (a delayed write error) is seen.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

bool isWriteError(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG || error == EROFS;
}

// Falls back to copying through a buffer; -1 on a read error, -2 on a write error.
ssize_t copyThroughBuffer(int in, int out, std::vector<char>& buffer) {
    buffer.resize(kChunkBytes);
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got <= 0) {
        return got;
    }
    for (ssize_t done = 0; done < got;) {
        const ssize_t put = ::write(out, buffer.data() + done, static_cast<size_t>(got - done));
        if (put < 0 && errno != EINTR) {
            return -2;
        }
        done += put < 0 ? 0 : put;
    }
    return got;
}

}  // namespace

CopyOutcome copyFileBytes(const std::string& from, const std::string& to, CopyProgressFn progress,
                          void* context, uint64_t& copied) {
    copied = 0;
    Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (in.get() < 0 || ::fstat(in.get(), &info) != 0) {
        return CopyOutcome::CannotOpenSource;
    }
    Descriptor out(
        ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 0777));
    if (out.get() < 0) {
        return CopyOutcome::CannotCreate;
    }
    bool inKernel = true;
    std::vector<char> buffer;
    for (;;) {
        ssize_t moved = 0;
        if (inKernel) {
            moved = ::copy_file_range(in.get(), nullptr, out.get(), nullptr, kChunkBytes, 0);
            if (moved < 0 &&
                (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                inKernel = false;
                continue;
            }
            if (moved < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return isWriteError(errno) ? CopyOutcome::WriteFailed : CopyOutcome::ReadFailed;
            }
        } else {
            moved = copyThroughBuffer(in.get(), out.get(), buffer);
            if (moved == -2) {
                return CopyOutcome::WriteFailed;
            }
            if (moved < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return CopyOutcome::ReadFailed;
            }
        }
        if (moved == 0) {
            break;
        }
        copied += static_cast<uint64_t>(moved);
        if (progress && !progress(copied, context)) {
            return CopyOutcome::Cancelled;
        }
    }
    return out.close() ? CopyOutcome::Copied : CopyOutcome::WriteFailed;
}

}  // namespace kestrova::platform
