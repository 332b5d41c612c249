// The build's identity as shown in the log and the capability report.
#pragma once

namespace kestrova {

inline constexpr const char* kProductName = "Kestrova";
inline constexpr const char* kVersion = "1.0.1+21";
#if defined(_WIN32)
inline constexpr const char* kPlatform = "win-x64";
#else
inline constexpr const char* kPlatform = "linux-x64";
#endif
// The architecture this module is compiled for, named as the platform names it.
inline constexpr const char* kModuleArchitecture = "x86_64";

}  // namespace kestrova
