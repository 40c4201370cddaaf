// Strict SMF reading and byte-difference reports for tests.
#include "testkit/smf_reader.h"

#include <algorithm>
#include <cstdio>

namespace sonvex::testkit {

namespace {

std::string At(size_t offset) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%06zX", offset);
    return text;
}

// Bounds-checked reads over the file bytes.
class Reader {
  public:
    explicit Reader(const Bytes& bytes) : bytes_(bytes) {}
    bool has(size_t n) const { return n <= bytes_.size() - std::min(position, bytes_.size()); }
    uint8_t u8() { return has(1) ? bytes_[position++] : 0; }
    uint32_t u32be() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            v = (v << 8) | u8();
        }
        return v;
    }
    uint16_t u16be() { return static_cast<uint16_t>((u8() << 8) | u8()); }
    // A variable-length quantity of at most 4 bytes; false when longer or cut short.
    bool varLen(uint32_t& value, size_t end) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (position >= end) {
                return false;
            }
            const uint8_t b = bytes_[position++];
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80)) {
                return true;
            }
        }
        return false;
    }
    size_t position = 0;

  private:
    const Bytes& bytes_;
};

int ChannelDataBytes(uint8_t status) {
    switch (status >> 4) {
    case 0xC:
    case 0xD:
        return 1;
    default:
        return 2;
    }
}

} // namespace

std::optional<SmfImage> ReadSmf(const Bytes& file, std::string& error) {
    auto fail = [&error](size_t offset, const std::string& what) -> std::optional<SmfImage> {
        error = At(offset) + ": " + what;
        return std::nullopt;
    };
    SmfImage image;
    Reader in(file);
    if (file.size() < 22) {
        return fail(0, "file of " + std::to_string(file.size()) +
                           " bytes is shorter than the chunk headers");
    }
    if (file[0] != 'M' || file[1] != 'T' || file[2] != 'h' || file[3] != 'd') {
        return fail(0, "no MThd");
    }
    in.position = 4;
    if (in.u32be() != 6) {
        return fail(4, "header length is not 6");
    }
    image.format = in.u16be();
    image.trackCount = in.u16be();
    image.division = in.u16be();
    if (image.format != 0 || image.trackCount != 1) {
        return fail(8, "not format 0 with one track");
    }
    if (file[14] != 'M' || file[15] != 'T' || file[16] != 'r' || file[17] != 'k') {
        return fail(14, "no MTrk");
    }
    in.position = 18;
    image.trackLength = in.u32be();
    const size_t end = 22 + static_cast<size_t>(image.trackLength);
    const size_t expectedSize = end + (image.trackLength & 1);
    if (file.size() != expectedSize) {
        return fail(18, "track length " + std::to_string(image.trackLength) +
                            " does not match a file of " + std::to_string(file.size()) + " bytes");
    }
    if (image.trackLength & 1) {
        image.padded = true;
        if (file[end] != 0) {
            return fail(end, "pad byte is not zero");
        }
    }

    uint32_t tick = 0;
    bool ended = false;
    while (in.position < end) {
        if (ended) {
            return fail(in.position, "event after the end of track");
        }
        const size_t eventStart = in.position;
        SmfEvent event;
        if (!in.varLen(event.delta, end)) {
            return fail(eventStart, "delta time longer than 4 bytes or cut short");
        }
        tick += event.delta;
        event.tick = tick;
        if (in.position >= end) {
            return fail(in.position, "event cut short by the end of the track");
        }
        const uint8_t status = file[in.position++];
        event.bytes.push_back(status);
        if (status < 0x80) {
            return fail(in.position - 1, "data byte where a status byte is due (running status)");
        }
        if (status < 0xF0) {
            const int n = ChannelDataBytes(status);
            for (int i = 0; i < n; ++i) {
                if (in.position >= end) {
                    return fail(in.position, "channel event cut short");
                }
                const uint8_t b = file[in.position++];
                if (b & 0x80) {
                    return fail(in.position - 1, "data byte with bit 7 set");
                }
                event.bytes.push_back(b);
            }
        } else if (status == 0xFF || status == 0xF0 || status == 0xF7) {
            if (status == 0xFF) {
                if (in.position >= end) {
                    return fail(in.position, "meta event without type");
                }
                event.bytes.push_back(file[in.position++]);
            }
            uint32_t length = 0;
            if (!in.varLen(length, end) || length > end - in.position) {
                return fail(eventStart, "event length runs past the end of the track");
            }
            event.bytes.insert(event.bytes.end(),
                               file.begin() + static_cast<std::ptrdiff_t>(in.position),
                               file.begin() + static_cast<std::ptrdiff_t>(in.position + length));
            in.position += length;
            if (status == 0xFF && event.bytes[1] == 0x2F) {
                if (length != 0) {
                    return fail(eventStart, "end of track with data");
                }
                ended = true;
            }
        } else {
            return fail(in.position - 1, "system event F1..FE in a file");
        }
        image.events.push_back(std::move(event));
    }
    if (!ended) {
        return fail(end, "track without end-of-track event");
    }
    return image;
}

std::string DescribeByteDifference(const Bytes& actual, const Bytes& expected) {
    if (actual == expected) {
        return {};
    }
    size_t first = 0;
    while (first < actual.size() && first < expected.size() && actual[first] == expected[first]) {
        ++first;
    }
    auto dump = [first](const Bytes& bytes) {
        const size_t from = first >= 8 ? first - 8 : 0;
        const size_t to = std::min(bytes.size(), first + 16);
        std::string text;
        char hex[8];
        for (size_t i = from; i < to; ++i) {
            std::snprintf(hex, sizeof hex, i == first ? "[%02X]" : " %02X ", bytes[i]);
            text += hex;
        }
        return At(from) + ":" + text;
    };
    return "first difference at " + At(first) + " (actual " + std::to_string(actual.size()) +
           " bytes, expected " + std::to_string(expected.size()) + " bytes)\n  actual   " +
           dump(actual) + "\n  expected " + dump(expected);
}

} // namespace sonvex::testkit
