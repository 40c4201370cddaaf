// SPDX-License-Identifier: GPL-3.0-or-later
// PSF builder.
#include "testkit/psf_builder.h"

#include <zlib.h>

namespace sonvex::testkit {

Bytes BuildPsxExe(uint32_t address, const Bytes& text) {
    ByteBuilder b;
    b.text("PS-X EXE").fill(8);
    b.u32le(address).u32le(0); // initial PC, GP
    b.u32le(address).u32le(static_cast<uint32_t>(text.size()));
    b.fill(16);
    b.u32le(0x801FFFF0).u32le(0); // stack
    b.fill(0x800 - b.size());
    b.append(text);
    return b.take();
}

Bytes Deflate(const Bytes& bytes) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, bytes.data(), static_cast<uLong>(bytes.size()), 9) != Z_OK) {
        return {};
    }
    out.resize(size);
    return out;
}

Bytes BuildPsfWithStream(const PsfParts& parts, const Bytes& compressed) {
    const auto crc = static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), compressed.data(), static_cast<uInt>(compressed.size())));
    ByteBuilder b;
    b.text("PSF").u8(0x01);
    b.u32le(static_cast<uint32_t>(parts.reserved.size()));
    b.u32le(static_cast<uint32_t>(compressed.size())).u32le(crc);
    b.append(parts.reserved).append(compressed);
    if (!parts.tags.empty()) {
        b.text("[TAG]");
        for (const auto& [name, value] : parts.tags) {
            b.text(name).text("=").text(value).text("\n");
        }
    }
    return b.take();
}

Bytes BuildPsf(const PsfParts& parts) {
    return BuildPsfWithStream(parts, Deflate(parts.program));
}

} // namespace sonvex::testkit
