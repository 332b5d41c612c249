// Child processes on Windows, for the tools and tests.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/win32_wide.h"

namespace kestrova::platform {

namespace {

// One argument as the C runtime's command-line parser reads it back:
// backslashes are literal unless they precede a quote.
void appendQuoted(std::wstring& line, const std::wstring& argument) {
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

// A file the child writes its output to; closed with the object.
class InheritableFile {
  public:
    explicit InheritableFile(const std::string& path) {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        const std::wstring wide = widen(path);
        if (!wide.empty()) {
            handle_ = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        }
    }
    ~InheritableFile() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    InheritableFile(const InheritableFile&) = delete;
    InheritableFile& operator=(const InheritableFile&) = delete;
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace

bool standardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::vector<std::string> commandLineArguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) {
        return arguments;
    }
    for (int i = 1; i < count; ++i) {
        arguments.push_back(narrow(words[i]));
    }
    LocalFree(words);
    return arguments;
}

int runProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& outputPath, const std::string& errorPath) {
    const std::wstring application = widen(program);
    InheritableFile output(outputPath), errors(errorPath);
    if (application.empty() || output.get() == INVALID_HANDLE_VALUE ||
        errors.get() == INVALID_HANDLE_VALUE) {
        return -1;
    }
    std::wstring line;
    appendQuoted(line, application);
    for (const std::string& argument : arguments) {
        line += L' ';
        appendQuoted(line, widen(argument));
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output.get();
    startup.hStdError = errors.get();
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    const bool known = GetExitCodeProcess(process.hProcess, &code) != 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return known ? static_cast<int>(code) : -1;
}

}  // namespace kestrova::platform
