#include "tools/DotMatrix.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace ledsign::tools {

namespace {

constexpr int kHexFontHeight = 16;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// An 8-dot-wide open box for characters no font has, drawn at Unifont's scale.
Glyph MissingGlyph() {
    Glyph glyph{8, kHexFontHeight, {}};
    for (int y = 0; y < kHexFontHeight; ++y) {
        glyph.rows[y] = (y == 0 || y == kHexFontHeight - 1) ? 0xFF000000 : 0x81000000;
    }
    return glyph;
}

// Source rows (or columns) [first, last) that a target dot covers when `size` target dots span
// `source` font dots. Shrinking lights a dot when any dot it covers is lit, so thin strokes survive.
void SourceSpan(int target, int size, int& first, int& last, int source) {
    first = target * source / size;
    last = size < source ? (target + 1) * source / size : first + 1;
    if (last <= first) last = first + 1;
}

// The width a glyph takes on the sign: its cell when the row's capacity is known, else its own
// width at the row's scale. ASCII is one byte to the sign whatever its glyph's width (a
// proportional font's "W" is wider than half its height); another character takes a double-byte
// cell when its glyph is full width.
int CellWidth(char32_t codePoint, const Glyph& glyph, const SignGeometry& geometry, RowCapacity capacity,
              int rowHeight) {
    const bool wide = codePoint >= 0x80 && glyph.width * 4 > glyph.height * 3;
    const int count = wide ? capacity.wides : capacity.singles;
    if (count > 0) return geometry.width / count;
    return glyph.width * rowHeight / glyph.height;
}

// Draws a glyph scaled to a cell of `width` by the row's height.
void DrawScaled(DotBitmap& bitmap, const Glyph& glyph, int left, int top, int width, int rowHeight) {
    for (int y = 0; y < rowHeight; ++y) {
        int firstRow, lastRow;
        SourceSpan(y, rowHeight, firstRow, lastRow, glyph.height);
        for (int x = 0; x < width; ++x) {
            int firstColumn, lastColumn;
            SourceSpan(x, width, firstColumn, lastColumn, glyph.width);
            bool lit = false;
            for (int sy = firstRow; sy < lastRow && !lit; ++sy) {
                for (int sx = firstColumn; sx < lastColumn && !lit; ++sx) lit = glyph.Dot(sx, sy);
            }
            if (lit) bitmap.Set(left + x, top + y);
        }
    }
}

// Draws a glyph of the row's own height dot for dot. One narrower than its cell is centred in it,
// as a fixed-pitch sign font centres "i" rather than leaving a gap after it; one wider is shrunk
// across to fit, keeping every stroke rather than cutting a letter into another.
void DrawNative(DotBitmap& bitmap, const Glyph& glyph, int left, int top, int width) {
    const int offset = glyph.width < width ? (width - glyph.width) / 2 : 0;
    const int drawn = glyph.width < width ? glyph.width : width;
    for (int y = 0; y < glyph.height; ++y) {
        for (int x = 0; x < drawn; ++x) {
            int firstColumn = x, lastColumn = x + 1;
            if (glyph.width > width) SourceSpan(x, width, firstColumn, lastColumn, glyph.width);
            bool lit = false;
            for (int sx = firstColumn; sx < lastColumn && !lit; ++sx) lit = glyph.Dot(sx, y);
            if (lit) bitmap.Set(left + offset + x, top + y);
        }
    }
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read the font " + path;
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        error = "cannot read the font " + path;
        return false;
    }
    bytes = text.str();
    return true;
}

// The PCF format's table types and format words.
constexpr uint32_t kPcfProperties = 1, kPcfAccelerators = 2, kPcfMetrics = 4, kPcfBitmaps = 8, kPcfBdfEncodings = 0x20,
                   kPcfBdfAccelerators = 0x100;
constexpr uint32_t kPcfFormatMask = 0xFFFFFF00, kPcfDefaultFormat = 0, kPcfCompressedMetrics = 0x100,
                   kPcfAcceleratorsWithInkBounds = 0x100;
constexpr uint32_t kPcfMsByteFirst = 4, kPcfMsBitFirst = 8;

// Numbers from one table, in the byte order its format word gives. A read past the table's end
// yields 0 and marks the reader failed, so each count read is checked before it is used.
class PcfReader {
public:
    PcfReader(const std::string& file, size_t offset, size_t size)
        : data_(reinterpret_cast<const uint8_t*>(file.data()) + offset), size_(size) {
        format_ = size_ >= 4 ? static_cast<uint32_t>(data_[0]) | static_cast<uint32_t>(data_[1]) << 8 |
                                   static_cast<uint32_t>(data_[2]) << 16 | static_cast<uint32_t>(data_[3]) << 24
                             : 0;
        at_ = 4;
        failed_ = size_ < 4;
    }
    uint32_t Format() const { return format_; }
    bool Failed() const { return failed_; }
    bool Has(uint64_t bytes) const { return !failed_ && bytes <= size_ - at_; }
    void Skip(uint64_t bytes) {
        if (!Has(bytes)) {
            failed_ = true;
            return;
        }
        at_ += static_cast<size_t>(bytes);
    }
    const uint8_t* Here() const { return data_ + at_; }
    uint32_t Unsigned(int bytes) {
        if (!Has(static_cast<uint64_t>(bytes))) {
            failed_ = true;
            return 0;
        }
        uint32_t value = 0;
        for (int k = 0; k < bytes; ++k) {
            const int index = (format_ & kPcfMsByteFirst) != 0 ? k : bytes - 1 - k;
            value = value << 8 | data_[at_ + static_cast<size_t>(index)];
        }
        at_ += static_cast<size_t>(bytes);
        return value;
    }
    int32_t Int32() { return static_cast<int32_t>(Unsigned(4)); }
    int16_t Int16() { return static_cast<int16_t>(Unsigned(2)); }
    uint8_t Byte() { return static_cast<uint8_t>(Unsigned(1)); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    uint32_t format_ = 0;
    bool failed_ = false;
};

// Text from a font file, fit for a message on a terminal: printable ASCII, at most 40 characters.
std::string Shown(const std::string& text) {
    std::string shown;
    for (const char c : text.substr(0, 40)) shown += c >= 0x20 && c < 0x7F ? c : '?';
    return text.size() > 40 ? shown + "..." : shown;
}

struct PcfMetrics {
    int leftBearing, rightBearing, advance, ascent, descent;
};

PcfMetrics ReadMetrics(PcfReader& reader, bool compressed) {
    PcfMetrics m{};
    for (int* field : {&m.leftBearing, &m.rightBearing, &m.advance, &m.ascent, &m.descent}) {
        *field = compressed ? reader.Byte() - 0x80 : reader.Int16();
    }
    if (!compressed) reader.Int16();  // attributes
    return m;
}

// Whether the dot `x` of a glyph row is lit, in the bit order, byte order and scan unit that the
// bitmap table's format word gives.
bool PcfDot(const uint8_t* row, int x, uint32_t format) {
    const int unit = 1 << ((format >> 4) & 3);
    const int inUnit = x % (8 * unit);
    const int bit = (format & kPcfMsBitFirst) != 0 ? 8 * unit - 1 - inUnit : inUnit;
    const int byte = (format & kPcfMsByteFirst) != 0 ? unit - 1 - bit / 8 : bit / 8;
    return ((row[(x / (8 * unit)) * unit + byte] >> (bit % 8)) & 1) != 0;
}

}  // namespace

bool HexFont::Load(const std::string& path, std::string& error) {
    std::string text;
    if (!ReadWholeFile(path, text, error)) return false;
    const size_t before = glyphs_.size();
    Parse(text);
    if (glyphs_.size() == before) {
        error = path + " holds no glyphs in the .hex format (a compressed file must be unpacked first)";
        return false;
    }
    return true;
}

void HexFont::Parse(const std::string& text) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        size_t length = end - start;
        if (length > 0 && text[start + length - 1] == '\r') --length;
        ParseLine(text.data() + start, length);
        start = end + 1;
    }
}

bool HexFont::ParseLine(const char* line, size_t length) {
    size_t colon = 0;
    char32_t codePoint = 0;
    for (; colon < length && line[colon] != ':'; ++colon) {
        const int digit = HexDigit(line[colon]);
        if (digit < 0 || colon >= 6) return false;
        codePoint = codePoint * 16 + static_cast<char32_t>(digit);
    }
    const size_t digits = length - colon - 1;
    if (colon == 0 || colon == length || (digits != 32 && digits != 64)) return false;
    Glyph glyph{digits == 32 ? 8 : 16, kHexFontHeight, {}};
    const size_t perRow = digits / kHexFontHeight;
    for (int y = 0; y < kHexFontHeight; ++y) {
        uint32_t bits = 0;
        for (size_t k = 0; k < perRow; ++k) {
            const int digit = HexDigit(line[colon + 1 + y * perRow + k]);
            if (digit < 0) return false;
            bits = bits * 16 + static_cast<uint32_t>(digit);
        }
        glyph.rows[y] = bits << (32 - 4 * perRow);
    }
    glyphs_[codePoint] = glyph;
    return true;
}

const Glyph* BitmapFont::Find(char32_t codePoint) const {
    const auto found = glyphs_.find(codePoint);
    return found == glyphs_.end() ? nullptr : &found->second;
}

bool PcfFont::Load(const std::string& path, std::string& error) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes, error)) return false;
    if (Parse(bytes, error)) return true;
    error = path + " " + error;
    return false;
}

bool PcfFont::Parse(const std::string& bytes, std::string& error) {
    glyphs_.clear();
    height_ = 0;
    baseline_ = 0;
    const auto fail = [&error](const std::string& why) {
        error = why;
        return false;
    };
    const auto byteAt = [&bytes](size_t at) { return static_cast<uint8_t>(bytes[at]); };
    if (bytes.size() >= 2 && byteAt(0) == 0x1F && byteAt(1) == 0x8B) {
        return fail("is compressed with gzip: unpack it first (gunzip -k)");
    }
    if (bytes.size() < 8 || bytes.compare(0, 4, "\1fcp", 4) != 0) return fail("is not a PCF font");

    // The table of contents is least significant byte first, whatever the tables are.
    const auto lsb32 = [&byteAt](size_t at) {
        return static_cast<uint32_t>(byteAt(at)) | static_cast<uint32_t>(byteAt(at + 1)) << 8 |
               static_cast<uint32_t>(byteAt(at + 2)) << 16 | static_cast<uint32_t>(byteAt(at + 3)) << 24;
    };
    const uint32_t tableCount = lsb32(4);
    if (tableCount > (bytes.size() - 8) / 16) return fail("is cut short: its table of contents does not fit");
    struct Table {
        uint32_t type;
        const char* name;
        size_t offset = 0, size = 0;
        bool found = false;
    };
    Table tables[] = {{kPcfProperties, "properties"},  {kPcfAccelerators, "accelerators"},
                      {kPcfMetrics, "metrics"},        {kPcfBitmaps, "bitmaps"},
                      {kPcfBdfEncodings, "encodings"}, {kPcfBdfAccelerators, "BDF accelerators"}};
    for (uint32_t k = 0; k < tableCount; ++k) {
        const size_t entry = 8 + static_cast<size_t>(k) * 16;
        const uint32_t type = lsb32(entry), offset = lsb32(entry + 12);
        if (offset > bytes.size()) {
            return fail("is cut short or damaged: table " + std::to_string(k) + " lies past the end of the file");
        }
        // bdftopcf lists the accelerators as 100 bytes whatever their size, and the last table
        // may be shorter than listed: a table is read up to the file's end at most.
        const size_t size = std::min<size_t>(lsb32(entry + 8), bytes.size() - offset);
        for (Table& table : tables) {
            if (table.type == type && !table.found) table = {type, table.name, offset, size, true};
        }
    }
    const Table& properties = tables[0];
    const Table& accelerators = tables[5].found ? tables[5] : tables[1];
    for (const Table* needed : {&tables[2], &tables[3], &tables[4]}) {
        if (!needed->found) return fail("has no " + std::string(needed->name) + " table");
    }
    const auto cutShort = [&fail](const Table& table) {
        return fail("is cut short or damaged: its " + std::string(table.name) + " table ends too soon");
    };
    const auto unknownFormat = [&fail](const Table& table) {
        return fail("has its " + std::string(table.name) + " table in a format this reader does not know");
    };

    int64_t pixelSize = 0, ascent = 0, descent = 0;
    bool haveAscent = false, haveDescent = false;
    std::string registry, encoding;
    if (properties.found) {
        PcfReader reader(bytes, properties.offset, properties.size);
        if ((reader.Format() & kPcfFormatMask) != kPcfDefaultFormat) return unknownFormat(properties);
        const uint32_t count = reader.Unsigned(4);
        if (!reader.Has(static_cast<uint64_t>(count) * 9)) return cutShort(properties);
        struct Property {
            uint32_t name;
            bool isText;
            uint32_t value;
        };
        std::vector<Property> list(count);
        for (Property& property : list) {
            property.name = reader.Unsigned(4);
            property.isText = reader.Byte() != 0;
            property.value = reader.Unsigned(4);
        }
        reader.Skip((count & 3) != 0 ? 4 - (count & 3) : 0);
        const uint32_t textSize = reader.Unsigned(4);
        if (!reader.Has(textSize)) return cutShort(properties);
        const char* text = reinterpret_cast<const char*>(reader.Here());
        const auto textAt = [&](uint32_t at, std::string& out) {
            if (at >= textSize) return false;
            size_t length = 0;
            while (at + length < textSize && text[at + length] != '\0') ++length;
            out.assign(text + at, length);
            return true;
        };
        for (const Property& property : list) {
            std::string name, value;
            if (!textAt(property.name, name) || (property.isText && !textAt(property.value, value))) {
                return fail("is damaged: a property's text lies outside its properties table");
            }
            const int64_t number = static_cast<int32_t>(property.value);
            if (name == "PIXEL_SIZE" && !property.isText) pixelSize = number;
            if (name == "FONT_ASCENT" && !property.isText) ascent = number, haveAscent = true;
            if (name == "FONT_DESCENT" && !property.isText) descent = number, haveDescent = true;
            if (name == "CHARSET_REGISTRY" && property.isText) registry = value;
            if (name == "CHARSET_ENCODING" && property.isText) encoding = value;
        }
    }
    if (accelerators.found) {
        PcfReader reader(bytes, accelerators.offset, accelerators.size);
        const uint32_t kind = reader.Format() & kPcfFormatMask;
        if (kind != kPcfDefaultFormat && kind != kPcfAcceleratorsWithInkBounds) return unknownFormat(accelerators);
        reader.Skip(8);  // flags
        ascent = reader.Int32();
        descent = reader.Int32();
        if (reader.Failed()) return cutShort(accelerators);
        haveAscent = haveDescent = true;
    }
    std::string upper;
    for (const char c : registry) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (!registry.empty() && upper != "ISO10646") {
        return fail("is encoded in " + Shown(registry + (encoding.empty() ? "" : "-" + encoding)) +
                    ", not Unicode (ISO10646-1)");
    }
    if (!haveAscent || !haveDescent || ascent + descent <= 0) return fail("gives no ascent and descent");
    const int64_t height = pixelSize > 0 ? pixelSize : ascent + descent;
    if (height > kMaxGlyphDots) {
        return fail("is " + std::to_string(height) + " dots high; fonts up to " + std::to_string(kMaxGlyphDots) +
                    " dots high are drawn");
    }
    // Ascent and descent may span more than the pixel size, to leave room for accents: the
    // baseline then sits at the same fraction of the cell.
    int64_t baseline = ascent;
    if (ascent + descent != height) baseline = (2 * height * ascent + ascent + descent) / (2 * (ascent + descent));
    baseline = baseline < 0 ? 0 : baseline > height ? height : baseline;

    const Table& metricsTable = tables[2];
    PcfReader metricsReader(bytes, metricsTable.offset, metricsTable.size);
    const uint32_t metricsKind = metricsReader.Format() & kPcfFormatMask;
    if (metricsKind != kPcfDefaultFormat && metricsKind != kPcfCompressedMetrics) return unknownFormat(metricsTable);
    const bool compressed = metricsKind == kPcfCompressedMetrics;
    // A compressed table's count is 16 bits unsigned: fonts such as Unifont hold more than 32767 glyphs.
    const int64_t metricsCount = compressed ? metricsReader.Unsigned(2) : metricsReader.Int32();
    if (metricsCount < 0 || !metricsReader.Has(static_cast<uint64_t>(metricsCount) * (compressed ? 5 : 12))) {
        return cutShort(metricsTable);
    }
    std::vector<PcfMetrics> metrics(static_cast<size_t>(metricsCount));
    for (PcfMetrics& m : metrics) m = ReadMetrics(metricsReader, compressed);

    const Table& bitmapsTable = tables[3];
    PcfReader bitmapsReader(bytes, bitmapsTable.offset, bitmapsTable.size);
    const uint32_t bitmapFormat = bitmapsReader.Format();
    if ((bitmapFormat & kPcfFormatMask) != kPcfDefaultFormat) return unknownFormat(bitmapsTable);
    const int64_t bitmapCount = bitmapsReader.Int32();
    if (bitmapsReader.Failed()) return cutShort(bitmapsTable);
    if (bitmapCount != metricsCount) {
        return fail("is damaged: it has " + std::to_string(bitmapCount) + " bitmaps for " +
                    std::to_string(metricsCount) + " glyph metrics");
    }
    if (!bitmapsReader.Has(static_cast<uint64_t>(bitmapCount) * 4 + 16)) return cutShort(bitmapsTable);
    std::vector<uint32_t> offsets(static_cast<size_t>(bitmapCount));
    for (uint32_t& offset : offsets) offset = bitmapsReader.Unsigned(4);
    uint32_t dataSizes[4];
    for (uint32_t& size : dataSizes) size = bitmapsReader.Unsigned(4);
    const uint32_t dataSize = dataSizes[bitmapFormat & 3];
    if (!bitmapsReader.Has(dataSize)) return cutShort(bitmapsTable);
    const uint8_t* data = bitmapsReader.Here();
    const uint32_t pad = 1u << (bitmapFormat & 3);
    if ((1u << ((bitmapFormat >> 4) & 3)) > pad) return unknownFormat(bitmapsTable);

    const Table& encodingsTable = tables[4];
    PcfReader encodings(bytes, encodingsTable.offset, encodingsTable.size);
    if ((encodings.Format() & kPcfFormatMask) != kPcfDefaultFormat) return unknownFormat(encodingsTable);
    const int minByte2 = encodings.Int16(), maxByte2 = encodings.Int16();
    const int minByte1 = encodings.Int16(), maxByte1 = encodings.Int16();
    encodings.Int16();  // the default character
    if (encodings.Failed()) return cutShort(encodingsTable);
    if (minByte2 < 0 || minByte2 > maxByte2 || maxByte2 > 255 || minByte1 < 0 || minByte1 > maxByte1 ||
        maxByte1 > 255) {
        return fail("is damaged: its encodings table's character ranges are out of bounds");
    }
    const int columns = maxByte2 - minByte2 + 1;
    const int codes = columns * (maxByte1 - minByte1 + 1);
    if (!encodings.Has(static_cast<uint64_t>(codes) * 2)) return cutShort(encodingsTable);

    std::unordered_map<char32_t, Glyph> glyphs;
    for (int k = 0; k < codes; ++k) {
        const uint32_t index = encodings.Unsigned(2);
        if (index == 0xFFFF) continue;
        const char32_t codePoint = static_cast<char32_t>((minByte1 + k / columns) << 8 | (minByte2 + k % columns));
        if (index >= metrics.size()) {
            return fail("is damaged: a character's glyph number " + std::to_string(index) + " is past its " +
                        std::to_string(metrics.size()) + " glyphs");
        }
        const PcfMetrics& m = metrics[index];
        const int64_t inkWidth = m.rightBearing - m.leftBearing, inkHeight = m.ascent + m.descent;
        if (inkWidth < 0 || inkHeight < 0) {
            return fail("is damaged: glyph " + std::to_string(index) + " has a negative size");
        }
        const uint64_t stride = (static_cast<uint64_t>(inkWidth + 7) / 8 + pad - 1) / pad * pad;
        if (offsets[index] > dataSize || stride * static_cast<uint64_t>(inkHeight) > dataSize - offsets[index]) {
            return fail("is damaged: glyph " + std::to_string(index) + "'s bitmap lies past the bitmap data");
        }
        Glyph glyph{std::clamp(m.advance, 0, kMaxGlyphDots), static_cast<int>(height), {}};
        // Ink outside the glyph's cell is cut.
        const int64_t top = baseline - m.ascent;
        for (int64_t y = top < 0 ? -top : 0; y < inkHeight && top + y < height; ++y) {
            const uint8_t* row = data + offsets[index] + static_cast<uint64_t>(y) * stride;
            for (int64_t x = m.leftBearing < 0 ? -m.leftBearing : 0; x < inkWidth && m.leftBearing + x < glyph.width;
                 ++x) {
                if (PcfDot(row, static_cast<int>(x), bitmapFormat)) {
                    glyph.rows[top + y] |= 1u << (31 - (m.leftBearing + x));
                }
            }
        }
        glyphs[codePoint] = glyph;
    }
    if (glyphs.empty()) return fail("holds no glyphs");
    glyphs_.swap(glyphs);
    height_ = static_cast<int>(height);
    baseline_ = static_cast<int>(baseline);
    return true;
}

std::string DefaultFontPath() {
    const char* configured = std::getenv("LEDSIGN_UNIFONT");
    return configured != nullptr && *configured != '\0' ? configured : "/usr/share/unifont/unifont.hex";
}

std::vector<std::string> DefaultRowFontPaths() {
    const char* configured = std::getenv("LEDSIGN_ROW_FONTS");
    if (configured == nullptr || *configured == '\0') return {kWenQuanYi12Path};
    std::vector<std::string> paths;
    std::string path;
    for (const char* c = configured;; ++c) {
        if (*c == ':' || *c == '\0') {
            if (!path.empty()) paths.push_back(path);
            path.clear();
            if (*c == '\0') break;
        } else {
            path += *c;
        }
    }
    return paths;
}

std::u32string DecodeUtf8(const std::string& text) {
    std::u32string result;
    size_t index = 0;
    while (index < text.size()) {
        const auto lead = static_cast<unsigned char>(text[index]);
        const int extra = lead < 0x80           ? 0
                          : (lead >> 5) == 0x6  ? 1
                          : (lead >> 4) == 0xE  ? 2
                          : (lead >> 3) == 0x1E ? 3
                                                : -1;
        char32_t value = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
        bool valid = extra >= 0 && index + static_cast<size_t>(extra) < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[index + static_cast<size_t>(k)]);
            valid = (next & 0xC0) == 0x80;
            value = (value << 6) | (next & 0x3F);
        }
        if (!valid) {
            result += U'\uFFFD';
            ++index;
            continue;
        }
        result += value;
        index += static_cast<size_t>(extra) + 1;
    }
    return result;
}

DotBitmap RenderSign(const SignGeometry& geometry, const std::vector<std::u32string>& rows, const SignFonts& fonts,
                     RowCapacity capacity) {
    DotBitmap bitmap(geometry.width, geometry.height);
    const int rowHeight = geometry.height / geometry.rows;
    const BitmapFont* own = nullptr;
    for (const BitmapFont* font : fonts.native) {
        if (font != nullptr && font->Height() == rowHeight) {
            own = font;
            break;
        }
    }
    const Glyph missing = MissingGlyph();
    for (int row = 0; row < geometry.rows && row < static_cast<int>(rows.size()); ++row) {
        int pen = 0;
        for (const char32_t codePoint : rows[static_cast<size_t>(row)]) {
            if (pen >= geometry.width) break;
            const Glyph* glyph = own != nullptr ? own->Find(codePoint) : nullptr;
            const bool native = glyph != nullptr;
            if (glyph == nullptr && fonts.scaled != nullptr) glyph = fonts.scaled->Find(codePoint);
            if (glyph == nullptr) glyph = &missing;
            const int width = CellWidth(codePoint, *glyph, geometry, capacity, rowHeight);
            if (native) {
                DrawNative(bitmap, *glyph, pen, row * rowHeight, width);
            } else {
                DrawScaled(bitmap, *glyph, pen, row * rowHeight, width, rowHeight);
            }
            pen += width;
        }
    }
    return bitmap;
}

DotBitmap RenderSign(const SignGeometry& geometry, const std::vector<std::u32string>& rows, const BitmapFont& font,
                     RowCapacity capacity) {
    SignFonts fonts;
    fonts.scaled = &font;
    return RenderSign(geometry, rows, fonts, capacity);
}

std::string DrawForTerminal(const DotBitmap& bitmap, int columns) {
    // The frame takes two columns.
    const int shown = columns > 2 && bitmap.Width() + 2 > columns ? columns - 2 : bitmap.Width();
    std::string border;
    for (int x = 0; x < shown; ++x) border += "\u2500";
    std::string picture = "\u250C" + border + "\u2510\n";
    for (int y = 0; y < bitmap.Height(); y += 2) {
        picture += "\u2502";
        for (int x = 0; x < shown; ++x) {
            const bool top = bitmap.At(x, y);
            const bool bottom = y + 1 < bitmap.Height() && bitmap.At(x, y + 1);
            picture += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
        }
        picture += "\u2502\n";
    }
    picture += "\u2514" + border + "\u2518\n";
    if (shown < bitmap.Width()) {
        picture += "(cut to the terminal's " + std::to_string(columns) + " columns: " + std::to_string(shown) + " of " +
                   std::to_string(bitmap.Width()) + " dots shown)\n";
    }
    return picture;
}

std::vector<uint8_t> PaintLeds(const DotBitmap& bitmap, int dotPixels, uint32_t& width, uint32_t& height) {
    if (dotPixels < 1) dotPixels = 1;
    width = static_cast<uint32_t>(bitmap.Width() * dotPixels);
    height = static_cast<uint32_t>(bitmap.Height() * dotPixels);
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3, 0);
    static const uint8_t kLit[3] = {255, 72, 24}, kDark[3] = {48, 16, 12};
    // With room for it, the last pixel row and column of each dot stay black between LEDs.
    const int led = dotPixels > 2 ? dotPixels - 1 : dotPixels;
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            const uint8_t* colour = bitmap.At(x, y) ? kLit : kDark;
            for (int py = 0; py < led; ++py) {
                for (int px = 0; px < led; ++px) {
                    const size_t pixel = (static_cast<size_t>(y * dotPixels + py) * width + x * dotPixels + px) * 3;
                    rgb[pixel] = colour[0];
                    rgb[pixel + 1] = colour[1];
                    rgb[pixel + 2] = colour[2];
                }
            }
        }
    }
    return rgb;
}

}  // namespace ledsign::tools
