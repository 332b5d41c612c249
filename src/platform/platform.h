// Every operating-system call the plug-in makes goes through here. The POSIX
// (posix_*.cpp) and Win32 (win32_*.cpp) implementations live beside this
// header, chosen by the build. Texts are UTF-8 on this side of the boundary;
// on Windows they become UTF-16 where they meet the system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::platform {

// ---- Module and dynamic libraries ----
// Full path of the module that contains this code, symbolic links resolved;
// empty when it cannot be determined.
std::string modulePath();

using LibraryHandle = void*;
// Loads a shared library; on failure returns null and sets `error` to the
// platform's description of the failure.
LibraryHandle loadLibrary(const std::string& path, std::string& error);
void* findSymbol(LibraryHandle library, const char* name);
void freeLibrary(LibraryHandle library);
// Keeps the module that contains this code loaded until the process ends.
bool pinOwnModule();
// Full path of the running program, symbolic links resolved; empty when it
// cannot be determined. Tools use it to find the module installed beside them.
std::string executablePath();
// File name of a versioned shared library: "libavutil.so.61", "avutil-61.dll".
std::string sharedLibraryFileName(std::string_view baseName, int major);
// Whether the process's standard error is a terminal (progress shown there
// would otherwise fill a log).
bool standardErrorIsTerminal();

// ---- Environment and per-user folders ----
std::optional<std::string> environmentVariable(const char* name);
// Sets a variable of this process's environment, or removes it when `value`
// is null. Not safe while other threads read the environment.
bool setEnvironmentVariable(const char* name, const char* value);
// The per-user application data folder ("LOCALAPPDATA" when set, else the
// desktop data folder), or empty when none is usable (1..259 characters).
std::string localAppDataFolder();
// The system's temporary folder, or empty.
std::string temporaryFolder();
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif
bool isPathSeparator(char c);
// How lines end in the text files the plug-in writes for people to read.
#if defined(_WIN32)
inline constexpr const char* kLineEnd = "\r\n";
#else
inline constexpr const char* kLineEnd = "\n";
#endif
std::string joinPath(std::string_view a, std::string_view b);
// A UTF-8 path as a filesystem path and back. Constructing a path from a
// plain std::string would read it in the ANSI code page on Windows, so
// files beside a non-ASCII path would never be found.
std::filesystem::path pathFromUtf8(std::string_view utf8);
std::string utf8FromPath(const std::filesystem::path& path);

// ---- Files ----
struct FileStatus {
    bool isDirectory = false;
    uint64_t size = 0;
    // Last write time in 100 ns units since 1601-01-01 UTC.
    int64_t lastWrite100ns = 0;
};
// Empty when nothing exists at the path.
std::optional<FileStatus> fileStatus(const std::string& path);
// Creates one directory level; true when it was created or already exists.
bool createDirectory(const std::string& path);
// Creates every missing level of the path; true when the directory exists after.
bool createDirectories(const std::string& path);
// Moves `from` onto `to`, replacing an existing file.
bool replaceFile(const std::string& from, const std::string& to);
bool removeFile(const std::string& path);
// std::fopen for a UTF-8 path; null on failure.
std::FILE* openFile(const std::string& path, const char* mode);

enum class CopyOutcome {
    Copied,
    CannotOpenSource,
    CannotCreate,
    ReadFailed,
    WriteFailed,
    Cancelled
};
// Called with the bytes copied so far; false stops the copy.
using CopyProgressFn = bool (*)(uint64_t copied, void* context);
// Copies the bytes of `from` into `to`, which must not exist yet, in 1 MiB
// chunks (inside the kernel where the system offers it). `copied` receives the
// bytes written. On any outcome but Copied, `to` may hold a partial file.
CopyOutcome copyFileBytes(const std::string& from, const std::string& to, CopyProgressFn progress,
                          void* context, uint64_t& copied);

// ---- Processes (the tools and tests) ----
// The program's arguments after its name, as UTF-8 (on Windows from the
// UTF-16 command line: `argv` there is in the ANSI code page).
std::vector<std::string> commandLineArguments(int argc, char** argv);
// Runs a program with the given arguments, its standard output and errors
// written to the named files, and waits for it. Returns its exit code, or -1
// when it could not be started.
int runProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& outputPath, const std::string& errorPath);

// ---- Threads and clocks ----
uint32_t threadId();
int64_t monotonicNanos();
// Wall clock in 100 ns units since 1970-01-01 UTC.
int64_t wallClock100ns();
bool localTime(std::time_t seconds, std::tm& out);
bool utcTime(std::time_t seconds, std::tm& out);

// ---- Processor ----
// "x86_64", "x86", "ARM64" or "unknown".
std::string nativeArchitecture();
struct CpuFeatures {
    bool sse42 = false;
    bool avx2 = false;
    bool fma = false;
};
CpuFeatures cpuFeatures();

// ---- Text ----
// Empty optional when the input is not valid UTF-8 / UTF-16.
std::optional<std::u16string> utf8ToUtf16(std::string_view text);
std::optional<std::string> utf16ToUtf8(std::u16string_view text);

// ---- Processor fault trap ----
// Exception codes the trap reports, in the host platform's numbering.
namespace faultcode {
inline constexpr uint32_t kAccessViolation = 0xC0000005;
inline constexpr uint32_t kMisalignment = 0x80000002;
inline constexpr uint32_t kInPageError = 0xC0000006;
inline constexpr uint32_t kIntegerDivideByZero = 0xC0000094;
inline constexpr uint32_t kFloatDivideByZero = 0xC000008E;
inline constexpr uint32_t kFloatInvalid = 0xC0000090;
inline constexpr uint32_t kPrivilegedInstruction = 0xC0000096;
inline constexpr uint32_t kIllegalInstruction = 0xC000001D;
inline constexpr uint32_t kStackOverflow = 0xC00000FD;
}  // namespace faultcode

using TrappedFunction = int32_t (*)(void* argument);
// Runs `function(argument)`. Returns true with its result in `result`, or
// false when a processor fault was trapped, with its code in `faultCode`.
// A fault on this thread outside any trapped call goes to the handler that
// was installed before the trap's own.
bool runTrapped(TrappedFunction function, void* argument, int32_t& result, uint32_t& faultCode);

}  // namespace kestrova::platform
