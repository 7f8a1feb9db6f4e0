// What the C++ samples take from their context: a picture in memory, a view made in an earlier sample,
// the rows and levels of a program's own, and the reads a source's author writes.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include <zelvan.hpp>
#include <zelvan_levels.hpp>
#include <zelvan_mapping.hpp>
#include <zelvan_mapping_statistics.hpp>
#include <zelvan_mapping_tables.hpp>
#include <zelvan_pyramid.hpp>
#include <zelvan_sources.hpp>
#include <zelvan_sources_bands.hpp>
#include <zelvan_tiles.hpp>

extern std::uint32_t width, height, fileLevelWidth;
extern const unsigned char* pixels;
extern std::size_t pitch, bytes;
extern double screenPixelsPerPixel;
extern const unsigned char *row0, *row1;
extern unsigned char *halved, *band;
extern zelvan::SampleLayout layout;
extern zelvan::TileView view;
extern std::size_t levels;
extern std::vector<zelvan::TileSize> sizes;
void upload(const unsigned char* rows, std::uint32_t count);
bool readRegion(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h,
                unsigned char* pixels, std::size_t pitch);
bool readRegion(std::size_t level, std::uint32_t x, std::uint32_t y, std::uint32_t w, std::uint32_t h,
                std::uint16_t* samples, std::size_t pitch);
struct MySource : zelvan::TileSource {
    std::size_t levelCount() const override { return levels; }
    zelvan::TileSize levelSize(std::size_t k) const override { return sizes[k]; }
};
