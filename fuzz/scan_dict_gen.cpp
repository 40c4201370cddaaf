// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the scan fuzz target's dictionary: the tokens kept beside it in the source tree,
// then every signature of the signature table.
//   scan_dict_gen TOKENS_FILE OUTPUT_FILE
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "formats/signatures.h"

namespace {

// A dictionary value: printable bytes as they are, the others and quotes as \xNN.
std::string Quoted(std::string_view bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        const auto v = static_cast<unsigned char>(c);
        if (v >= 0x20 && v < 0x7F && c != '"' && c != '\\') {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", v);
            out += hex;
        }
    }
    return out + "\"";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: scan_dict_gen TOKENS_FILE OUTPUT_FILE\n";
        return 2;
    }
    std::ifstream tokens(argv[1], std::ios::binary);
    std::stringstream kept;
    if (!tokens || !(kept << tokens.rdbuf())) {
        std::cerr << "scan_dict_gen: cannot read " << argv[1] << "\n";
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << kept.str() << "# The signature table.\n";
    int index = 0;
    for (const sonvex::signatures::Signature& s : sonvex::signatures::kSignatures) {
        std::string value(s.magic);
        if (s.needsSampleStartBehind) {
            // The block behind: any first byte, then flags 2, which start a sample.
            value += std::string("\x00\x02", 2);
        }
        out << "signature_" << index++ << "=" << Quoted(value) << "\n";
    }
    out.close();
    if (!out) {
        std::cerr << "scan_dict_gen: cannot write " << argv[2] << "\n";
        return 1;
    }
    return 0;
}
