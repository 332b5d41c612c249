// File copies on Windows: sequential reads and writes through one buffer,
// the progress callback between chunks.
#include <windows.h>

#include <vector>

#include "platform/win32_wide.h"

namespace kestrova::platform {

namespace {

constexpr DWORD kChunkBytes = 1u << 20;

class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE get() const { return handle_; }
    bool close() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

  private:
    HANDLE handle_;
};

}  // namespace

CopyOutcome copyFileBytes(const std::string& from, const std::string& to, CopyProgressFn progress,
                          void* context, uint64_t& copied) {
    copied = 0;
    const std::wstring wideFrom = widen(from), wideTo = widen(to);
    FileHandle in(wideFrom.empty()
                      ? INVALID_HANDLE_VALUE
                      : CreateFileW(wideFrom.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (in.get() == INVALID_HANDLE_VALUE) {
        return CopyOutcome::CannotOpenSource;
    }
    FileHandle out(wideTo.empty() ? INVALID_HANDLE_VALUE
                                  : CreateFileW(wideTo.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (out.get() == INVALID_HANDLE_VALUE) {
        return CopyOutcome::CannotCreate;
    }
    std::vector<char> buffer(kChunkBytes);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in.get(), buffer.data(), kChunkBytes, &got, nullptr)) {
            return CopyOutcome::ReadFailed;
        }
        if (got == 0) {
            break;
        }
        DWORD put = 0;
        if (!WriteFile(out.get(), buffer.data(), got, &put, nullptr) || put != got) {
            return CopyOutcome::WriteFailed;
        }
        copied += got;
        if (progress && !progress(copied, context)) {
            return CopyOutcome::Cancelled;
        }
    }
    return out.close() ? CopyOutcome::Copied : CopyOutcome::WriteFailed;
}

}  // namespace kestrova::platform
