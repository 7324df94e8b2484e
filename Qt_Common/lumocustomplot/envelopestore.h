// Every point of a long curve, kept compactly, and what a plot needs of it:
// the points between two keys at full resolution, or for a range holding far
// more points than the plot has pixel columns, the envelope of each column
// (its first, lowest, highest and last point, in key order). A week at one
// point a second is 604,800 points: 8 bytes each here (a 32-bit key offset
// and a float value; the sensor's values are floats) against 16 as plot data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class EnvelopeStore {
public:
    struct Point {
        double key;
        double value;
    };

    // Keys come in order; one below the last is taken as the last (a curve's
    // keys never go back). A value that is no number is kept: it is a gap.
    void append(double key, double value);
    void clear();

    size_t size() const { return count; }
    bool isEmpty() const { return count == 0; }
    Point at(size_t index) const;
    double firstKey() const;
    double lastKey() const;

    // Index of the first point with a key not below `key` (size() if none),
    // and of the first with a key above it.
    size_t lowerBound(double key) const;
    size_t upperBound(double key) const;

    // Every point with from <= key <= to, as appended (values as floats, keys
    // to the microsecond).
    std::vector<Point> between(double from, double to) const;
    // The points of indices [first, last).
    void copy(size_t first, size_t last, std::vector<Point>* out) const;

    // Lowest and highest value that is a number between indices [first, last);
    // false when there is none.
    bool valueRange(size_t first, size_t last, double* low, double* high) const;

    // The points of [from, to] cut into `columns` equal columns: for each, its
    // first, lowest, highest and last point in key order (each once), and its
    // first gap if it has one; plus the nearest point outside each end, so a
    // line reaches the edges. Keys never decrease.
    void envelope(double from, double to, int columns, std::vector<Point>* out) const;

    // Heap bytes held (a figure for benchmarks).
    size_t bytes() const;

    static constexpr int kChunkPoints = 4096;
    static constexpr int kBlockPoints = 64;

private:
    struct Block {
        float low, high;  // over the values that are numbers; low > high when none
        uint16_t lowAt, highAt;  // index in the chunk
        uint16_t gapAt;  // first value that is no number, or kNone
    };
    static constexpr uint16_t kNone = 0xFFFF;
    // Keys as whole microseconds: the chunk's first, and 32-bit offsets from it.
    // Keys given in milliseconds or to six decimals (the run files' time
    // column) come back as the same doubles; any other to half a microsecond.
    struct Chunk {
        int64_t base = 0;
        size_t first = 0;  // index of its first point in the store
        std::vector<uint32_t> offsets;
        std::vector<float> values;
        std::vector<Block> blocks;
        double keyAt(size_t i) const { return double(base + int64_t(offsets[i])) / 1e6; }
    };
    static constexpr int64_t kChunkSpan = 4000000000;  // microseconds a 32-bit offset holds, and some

    const Chunk& chunkOf(size_t index) const;
    void closeChunk();

    std::vector<std::unique_ptr<Chunk>> chunks;
    size_t count = 0;
};
