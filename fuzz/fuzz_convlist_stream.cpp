// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds any bytes, as a list file in memory, to the streaming read: ReadHeader, then
// ReadEntry until it comes up short, stepping back with UnreadEntry now and then and
// checking that the entry read again is the same.
#include <cstddef>
#include <cstdint>

#include "convlist/convert_list.h"
#include "fuzz/convert_list_seeds.h"
#include "fuzz/seed_corpus.h"
#include "testkit/convert_list_builder.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sonvex::fuzz::WriteSeedsIfAsked("convlist_stream", sonvex::fuzz::ConvertListSeeds());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    sonvex::testkit::MemoryListFile file(sonvex::testkit::Bytes(data, data + size));
    sonvex::ConvertList header;
    if (sonvex::ReadHeader(file, header) != sonvex::HeaderRead::Ok) {
        return 0;
    }
    sonvex::ListEntry entry;
    size_t read = 0;
    while (sonvex::ReadEntry(file, entry)) {
        // The entry's own bytes decide whether to step back over it.
        if ((entry.offset ^ entry.nameLength ^ read) % 3 == 0) {
            const size_t after = file.position();
            if (!sonvex::UnreadEntry(file, entry)) {
                __builtin_trap();
            }
            sonvex::ListEntry again;
            if (!sonvex::ReadEntry(file, again) || file.position() != after ||
                again.type != entry.type || again.number != entry.number ||
                again.offset != entry.offset || again.fileName != entry.fileName) {
                __builtin_trap();
            }
        }
        if (file.position() > size) {
            __builtin_trap();
        }
        ++read;
    }
    return 0;
}
