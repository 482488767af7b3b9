// Version information of Windows executables, read from the bytes alone.
//
// This is the part of GetFileVersionInfoW and VerQueryValueW that a system without them
// needs: find the version resource of a PE image (PE32 or PE32+) and walk the tree of
// its VS_VERSIONINFO block. Executables come from outside the program and may be damaged
// or hostile, so nothing here trusts an offset, a size or a count before checking it
// against the bytes that are really there; a structure out of place means "no version
// block" or "no value", never a crash, a hang or a read outside the input. Nothing here
// calls the operating system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/wstr.h"

namespace plat {
namespace pe {

// A version block never exceeds this: its root node's 16-bit length covers all of it.
constexpr size_t kMaxVersionBlock = 0xFFFF;

// Random access to an image: fills `out` with `size` bytes from `offset` and returns
// true, or returns false when that range is not wholly inside the image or cannot be read.
using ReadAt = std::function<bool(uint64_t offset, size_t size, uint8_t* out)>;

// Copies the VS_VERSIONINFO block of the version resource of an image of `imageSize`
// bytes into `block`, exactly as long as its root node says. The resource is the one
// GetFileVersionInfoW takes on a Simplified Chinese (code page 936) installation: type 16,
// name 1, and of its languages the first of neutral, Chinese (PRC) 0804, Chinese 0004 and
// US English 0409 that is there, else the first one. Returns false, with `block` empty,
// when the image is no PE file, has no such resource, or anything on the way is out of
// place. A 16-bit (NE) image gives its narrow block (type 16, name 1), as Windows reads it.
bool ExtractVersionBlock(uint64_t imageSize, const ReadAt& read, std::vector<uint8_t>& block);
// The same for an image held in memory.
bool ExtractVersionBlock(const uint8_t* data, size_t size, std::vector<uint8_t>& block);

// Looks up a value in a version block by its path of keys, such as
// "\StringFileInfo\080403A8\ProductVersion" (keys compared without regard to ASCII case,
// empty pieces ignored), and delivers it as text: its UTF-16 characters up to the first
// NUL, never beyond the value's declared length or its node; in the narrow block of a
// 16-bit image, its bytes up to the first NUL in the ANSI code page. Returns false, with `value`
// empty, when a key is missing, the path is empty (the root holds no text) or a node on
// the way is malformed.
bool FindVersionString(const uint8_t* block, size_t size, WStringView subBlock, WString& value);

}  // namespace pe
}  // namespace plat
