// Packs PNG images into one Windows icon file (PNG-compressed entries, 32 bits
// per pixel). Usage: make_ico OUT.ico IMAGE.png... (square images, at most 256).
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

void put16(std::vector<unsigned char>& out, uint32_t value)
{
    out.push_back(static_cast<unsigned char>(value & 0xff));
    out.push_back(static_cast<unsigned char>((value >> 8) & 0xff));
}

void put32(std::vector<unsigned char>& out, uint32_t value)
{
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

// Width of a PNG: big-endian 32 bits at offset 16 of its header chunk.
uint32_t pngWidth(const std::vector<unsigned char>& png)
{
    if (png.size() < 24)
        return 0;
    return (uint32_t(png[16]) << 24) | (uint32_t(png[17]) << 16) | (uint32_t(png[18]) << 8) | png[19];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << "usage: make_ico OUT.ico IMAGE.png...\n";
        return 2;
    }
    std::vector<std::vector<unsigned char>> images;
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        images.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        const uint32_t width = pngWidth(images.back());
        if (width == 0 || width > 256) {
            std::cerr << "not a PNG of at most 256 pixels: " << argv[i] << "\n";
            return 1;
        }
    }

    std::vector<unsigned char> out;
    put16(out, 0);
    put16(out, 1); // icon
    put16(out, static_cast<uint32_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (const auto& png : images) {
        const uint32_t width = pngWidth(png);
        out.push_back(static_cast<unsigned char>(width == 256 ? 0 : width)); // 0 means 256
        out.push_back(static_cast<unsigned char>(width == 256 ? 0 : width));
        out.push_back(0); // no palette
        out.push_back(0);
        put16(out, 1);  // colour planes
        put16(out, 32); // bits per pixel
        put32(out, static_cast<uint32_t>(png.size()));
        put32(out, offset);
        offset += static_cast<uint32_t>(png.size());
    }
    for (const auto& png : images)
        out.insert(out.end(), png.begin(), png.end());

    std::ofstream file(argv[1], std::ios::binary);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    return file ? 0 : 1;
}
