// The window icon at each size, as pixels compiled into the program (generated from res/icons at build time).
#pragma once

#include <cstdint>
#include <span>

struct IconPixels {
    int width;
    int height;
    // width * height premultiplied ARGB words (0xAARRGGBB), rows top to bottom.
    const std::uint32_t* argb;
};

std::span<const IconPixels> windowIconPixels();

// The images of the icon with resource number id; none for a number no icon has.
std::span<const IconPixels> iconPixels(int id);
