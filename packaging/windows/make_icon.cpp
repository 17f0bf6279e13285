// Draws the launcher's icon and writes it as a Windows .ico file: a rounded
// blue square with a white triangle pointing right (start), 16 and 32 pixels
// square, 32-bit colour with alpha. Built and run on the build machine.
// Usage: make_icon OUT.ico
#include <math.h>
#include <stdint.h>
#include <stdio.h>

#include <string>

namespace {

void put16(std::string& out, unsigned value) {
    out += (char)(value & 0xFF);
    out += (char)(value >> 8 & 0xFF);
}

void put32(std::string& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

// Whether the point (x, y), both from 0 to 1, lies in each shape.
bool in_square(double x, double y) {
    const double r = 0.22, lo = 0.04, hi = 0.96;
    double cx = x < lo + r ? lo + r : x > hi - r ? hi - r : x;
    double cy = y < lo + r ? lo + r : y > hi - r ? hi - r : y;
    return x >= lo && x <= hi && y >= lo && y <= hi &&
           (cx - x) * (cx - x) + (cy - y) * (cy - y) <= r * r;
}

bool in_triangle(double x, double y) {
    // Points (0.36, 0.26), (0.36, 0.74), (0.76, 0.5).
    if (x < 0.36) return false;
    double half = 0.24 * (0.76 - x) / 0.40;
    return fabs(y - 0.5) <= half;
}

// One image: the BITMAPINFOHEADER, the pixels bottom-up as BGRA, then the
// AND mask (1 where transparent), rows padded to 32 bits.
std::string image(int size) {
    std::string out;
    put32(out, 40);
    put32(out, (uint32_t)size);
    put32(out, (uint32_t)size * 2); // colour and mask
    put16(out, 1);
    put16(out, 32);
    for (int i = 0; i < 6; i++)
        put32(out, 0);
    std::string mask;
    const int samples = 4;
    for (int row = size - 1; row >= 0; row--) {
        uint32_t bits = 0;
        int bit_count = 0;
        for (int column = 0; column < size; column++) {
            double square = 0, triangle = 0;
            for (int sy = 0; sy < samples; sy++)
                for (int sx = 0; sx < samples; sx++) {
                    double x = (column + (sx + 0.5) / samples) / size;
                    double y = (row + (sy + 0.5) / samples) / size;
                    square += in_square(x, y);
                    triangle += in_square(x, y) && in_triangle(x, y);
                }
            square /= samples * samples;
            triangle /= samples * samples;
            double y = (double)row / size; // top light, bottom darker
            double blue = 0.86 - 0.25 * y, green = 0.52 - 0.2 * y, red = 0.16 - 0.06 * y;
            double white = square > 0 ? triangle / square : 0;
            auto channel = [&](double base) {
                return (char)(unsigned char)lround(255 * (base + (1 - base) * white));
            };
            out += channel(blue);
            out += channel(green);
            out += channel(red);
            out += (char)(unsigned char)lround(255 * square);
            bits = bits << 1 | (square == 0 ? 1u : 0u);
            if (++bit_count == 8) {
                mask += (char)bits;
                bits = 0;
                bit_count = 0;
            }
        }
        if (bit_count > 0) mask += (char)(bits << (8 - bit_count));
        while (mask.size() % 4 != 0)
            mask += '\0';
    }
    return out + mask;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: make_icon OUT.ico\n");
        return 2;
    }
    const int sizes[] = {32, 16};
    std::string images[2], out;
    put16(out, 0);
    put16(out, 1); // an icon
    put16(out, 2);
    uint32_t offset = 6 + 16 * 2;
    for (int i = 0; i < 2; i++) {
        images[i] = image(sizes[i]);
        out += (char)sizes[i];
        out += (char)sizes[i];
        out += '\0'; // no palette
        out += '\0';
        put16(out, 1);
        put16(out, 32);
        put32(out, (uint32_t)images[i].size());
        put32(out, offset);
        offset += (uint32_t)images[i].size();
    }
    out += images[0] + images[1];
    FILE* file = fopen(argv[1], "wb");
    if (file == nullptr) return 1;
    bool written = fwrite(out.data(), 1, out.size(), file) == out.size();
    return fclose(file) == 0 && written ? 0 : 1;
}
