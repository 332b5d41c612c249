// The build's identity as shown in the log and the capability report.
#pragma once

namespace kestrova {

inline constexpr const char* kProductName = "Kestrova";
inline constexpr const char* kVersion = "1.0.1+21";
inline constexpr const char* kPlatform = "linux-x64";
// The architecture this module is compiled for, named as the platform names it.
inline constexpr const char* kModuleArchitecture = "x86_64";

}  // namespace kestrova
