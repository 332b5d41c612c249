// The fingerprint the host keeps of a source file to notice that it changed:
// FNV-1a over each file's size and last-write time, shown as a GUID-like text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::host {

inline constexpr uint64_t kFnvOffsetBasis = 0xCBF29CE484222325ULL;
inline constexpr uint64_t kFnvPrime = 0x100000001B3ULL;

// One file's hash: the 8 little-endian bytes of its size, then those of its
// last-write time in nanoseconds (100 ns units x 100).
uint64_t fileContentHash(uint64_t size, int64_t lastWrite100ns);
// Folds a nonzero file hash into the running state (which starts at the
// offset basis).
uint64_t foldFileHash(uint64_t state, uint64_t fileHash);
// "%08x-%04x-%04x-%04x-%012llx": the state's three upper parts, then a
// mixed form of it for the last two.
std::string contentStateText(uint64_t state);
// The state of a list of files; empty when one of them could not be
// examined and none was folded in.
std::optional<uint64_t> fingerprintOfFiles(const std::vector<std::string>& paths);

}  // namespace kestrova::host
