#include "envelopestore.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

int64_t micros(double key) {
    return std::llround(key * 1e6);
}

}  // namespace

void EnvelopeStore::append(double key, double value) {
    if (!std::isfinite(key) || std::abs(key) > 1e12)
        return;  // no place on a time axis
    Chunk* chunk = chunks.empty() ? nullptr : chunks.back().get();
    int64_t us = micros(key);
    if (chunk)
        us = std::max(us, chunk->base + int64_t(chunk->offsets.back()));
    if (!chunk || chunk->offsets.size() >= size_t(kChunkPoints) || us - chunk->base > kChunkSpan) {
        if (chunk)
            closeChunk();
        chunks.push_back(std::make_unique<Chunk>());
        chunk = chunks.back().get();
        chunk->base = us;
        chunk->first = count;
    }
    const size_t i = chunk->offsets.size();
    chunk->offsets.push_back(uint32_t(us - chunk->base));
    chunk->values.push_back(float(value));
    const float v = chunk->values.back();
    if (i % kBlockPoints == 0)
        chunk->blocks.push_back({1, 0, 0, 0, kNone});
    Block& block = chunk->blocks.back();
    if (std::isnan(v)) {
        if (block.gapAt == kNone)
            block.gapAt = uint16_t(i);
    } else if (block.low > block.high) {
        block.low = block.high = v;
        block.lowAt = block.highAt = uint16_t(i);
    } else if (v < block.low) {
        block.low = v;
        block.lowAt = uint16_t(i);
    } else if (v > block.high) {
        block.high = v;
        block.highAt = uint16_t(i);
    }
    ++count;
}

void EnvelopeStore::closeChunk() {
    // A full chunk holds exactly what it needs; only the open one has room to grow.
    Chunk& chunk = *chunks.back();
    chunk.offsets.shrink_to_fit();
    chunk.values.shrink_to_fit();
    chunk.blocks.shrink_to_fit();
}

void EnvelopeStore::clear() {
    chunks.clear();
    chunks.shrink_to_fit();
    count = 0;
}

const EnvelopeStore::Chunk& EnvelopeStore::chunkOf(size_t index) const {
    auto it = std::upper_bound(chunks.begin(), chunks.end(), index,
                               [](size_t i, const std::unique_ptr<Chunk>& c) { return i < c->first; });
    return **(it - 1);
}

EnvelopeStore::Point EnvelopeStore::at(size_t index) const {
    const Chunk& chunk = chunkOf(index);
    const size_t i = index - chunk.first;
    return {chunk.keyAt(i), double(chunk.values[i])};
}

double EnvelopeStore::firstKey() const {
    return chunks.front()->keyAt(0);
}

double EnvelopeStore::lastKey() const {
    const Chunk& chunk = *chunks.back();
    return chunk.keyAt(chunk.offsets.size() - 1);
}

namespace {

// The offset in a chunk nearest to a key, held to what an offset can be.
uint32_t offsetIn(int64_t base, double key) {
    const double us = std::round(key * 1e6) - double(base);
    return us <= 0 ? 0 : us >= 4294967295.0 ? 4294967295u : uint32_t(us);
}

}  // namespace

size_t EnvelopeStore::lowerBound(double key) const {
    if (count == 0)
        return 0;
    // The last chunk starting below the key holds the answer, or the one after it.
    auto it = std::lower_bound(chunks.begin(), chunks.end(), key,
                               [](const std::unique_ptr<Chunk>& c, double k) { return c->keyAt(0) < k; });
    if (it == chunks.begin())
        return 0;
    const Chunk& chunk = **(it - 1);
    const uint32_t offset = offsetIn(chunk.base, key);
    size_t index =
        chunk.first + size_t(std::lower_bound(chunk.offsets.begin(), chunk.offsets.end(), offset) - chunk.offsets.begin());
    // The key may lie between two microseconds.
    while (index < count && at(index).key < key)
        ++index;
    while (index > 0 && at(index - 1).key >= key)
        --index;
    return index;
}

size_t EnvelopeStore::upperBound(double key) const {
    if (count == 0)
        return 0;
    auto it = std::upper_bound(chunks.begin(), chunks.end(), key,
                               [](double k, const std::unique_ptr<Chunk>& c) { return k < c->keyAt(0); });
    if (it == chunks.begin())
        return 0;
    const Chunk& chunk = **(it - 1);
    const uint32_t offset = offsetIn(chunk.base, key);
    size_t index =
        chunk.first + size_t(std::upper_bound(chunk.offsets.begin(), chunk.offsets.end(), offset) - chunk.offsets.begin());
    while (index > 0 && at(index - 1).key > key)
        --index;
    while (index < count && at(index).key <= key)
        ++index;
    return index;
}

std::vector<EnvelopeStore::Point> EnvelopeStore::between(double from, double to) const {
    std::vector<Point> points;
    if (count == 0 || !(from <= to))
        return points;
    copy(lowerBound(from), upperBound(to), &points);
    return points;
}

void EnvelopeStore::copy(size_t first, size_t last, std::vector<Point>* out) const {
    out->clear();
    last = std::min(last, count);
    if (first >= last)
        return;
    out->reserve(last - first);
    size_t index = first;
    while (index < last) {
        const Chunk& chunk = chunkOf(index);
        const size_t end = std::min(last, chunk.first + chunk.offsets.size());
        for (size_t i = index - chunk.first; i < end - chunk.first; ++i)
            out->push_back({chunk.keyAt(i), double(chunk.values[i])});
        index = end;
    }
}

bool EnvelopeStore::valueRange(size_t first, size_t last, double* low, double* high) const {
    bool found = false;
    float lo = 0, hi = 0;
    auto take = [&](float l, float h) {
        lo = found ? std::min(lo, l) : l;
        hi = found ? std::max(hi, h) : h;
        found = true;
    };
    last = std::min(last, count);
    size_t index = first;
    while (index < last) {
        const Chunk& chunk = chunkOf(index);
        const size_t end = std::min(last, chunk.first + chunk.offsets.size());
        for (size_t i = index - chunk.first; i < end - chunk.first;) {
            const Block& block = chunk.blocks[i / kBlockPoints];
            if (i % kBlockPoints == 0 && chunk.first + i + kBlockPoints <= end) {
                if (block.low <= block.high)
                    take(block.low, block.high);
                i += kBlockPoints;
                continue;
            }
            const float v = chunk.values[i];
            if (!std::isnan(v))
                take(v, v);
            ++i;
        }
        index = end;
    }
    if (found) {
        *low = lo;
        *high = hi;
    }
    return found;
}

namespace {

// What one column has seen, by index in the store.
struct Column {
    size_t first = 0, last = 0, lowAt = 0, highAt = 0, gapAt = 0;
    float low = 0, high = 0;
    bool any = false, hasValue = false, hasGap = false;

    void takePoint(size_t at, float v) {
        if (!any)
            first = at;
        last = at;
        any = true;
        if (std::isnan(v)) {
            if (!hasGap)
                gapAt = at;
            hasGap = true;
            return;
        }
        takeRange(v, at, v, at);
    }
    void takeRange(float lo, size_t loAt, float hi, size_t hiAt) {
        if (!hasValue || lo < low) {
            low = lo;
            lowAt = loAt;
        }
        if (!hasValue || hi > high) {
            high = hi;
            highAt = hiAt;
        }
        hasValue = true;
    }
};

}  // namespace

void EnvelopeStore::envelope(double from, double to, int columns, std::vector<Point>* out) const {
    out->clear();
    if (count == 0 || !(from < to) || columns < 1)
        return;
    const size_t first = lowerBound(from), last = upperBound(to);
    if (first > 0)
        out->push_back(at(first - 1));
    const double width = (to - from) / columns;
    // Column c holds the keys from its edge up to the next one's.
    auto edge = [&](int c) { return from + width * c; };
    auto columnOf = [&](double key) {
        const double q = (key - from) / width;  // held in range before it becomes an int
        int c = !(q > 0) ? 0 : q >= columns ? columns - 1 : int(q);
        while (c + 1 < columns && key >= edge(c + 1))
            ++c;
        while (c > 0 && key < edge(c))
            --c;
        return c;
    };
    // The first whole microsecond at or past a key, so the scan compares integers.
    auto firstMicroAtOrPast = [](double key) {
        if (!(std::abs(key) < 1e12))  // beyond any stored key (see append)
            return key > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
        int64_t us = int64_t(std::ceil(key * 1e6));
        while (double(us - 1) / 1e6 >= key)
            --us;
        while (double(us) / 1e6 < key)
            ++us;
        return us;
    };

    Column column;
    int columnIndex = -1;
    int64_t nextEdge = 0;  // in microseconds
    size_t emitted[5];
    auto flush = [&] {
        if (!column.any)
            return;
        int n = 0;
        emitted[n++] = column.first;
        if (column.hasValue) {
            emitted[n++] = column.lowAt;
            emitted[n++] = column.highAt;
        }
        if (column.hasGap)
            emitted[n++] = column.gapAt;
        emitted[n++] = column.last;
        std::sort(emitted, emitted + n);
        for (int k = 0; k < n; ++k)
            if (k == 0 || emitted[k] != emitted[k - 1])
                out->push_back(at(emitted[k]));
        column = Column();
    };

    size_t index = first;
    while (index < last) {
        const Chunk& chunk = chunkOf(index);
        const size_t end = std::min(last, chunk.first + chunk.offsets.size());
        const size_t stopAt = end - chunk.first;
        size_t i = index - chunk.first;
        while (i < stopAt) {
            if (columnIndex < 0 || chunk.base + int64_t(chunk.offsets[i]) >= nextEdge) {
                flush();
                columnIndex = columnOf(chunk.keyAt(i));
                nextEdge = columnIndex + 1 < columns ? firstMicroAtOrPast(edge(columnIndex + 1))
                                                     : std::numeric_limits<int64_t>::max();
            }
            // nextEdge - base, held to what an int64 holds.
            const int64_t edgeOffset =
                chunk.base > 0 && nextEdge < std::numeric_limits<int64_t>::min() + chunk.base ? std::numeric_limits<int64_t>::min()
                : chunk.base < 0 && nextEdge > std::numeric_limits<int64_t>::max() + chunk.base
                    ? std::numeric_limits<int64_t>::max()
                    : nextEdge - chunk.base;
            // A whole block before the next edge is taken from its summary.
            if (i % kBlockPoints == 0 && i + kBlockPoints <= stopAt &&
                int64_t(chunk.offsets[i + kBlockPoints - 1]) < edgeOffset) {
                const Block& block = chunk.blocks[i / kBlockPoints];
                if (!column.any)
                    column.first = chunk.first + i;
                column.any = true;
                column.last = chunk.first + i + kBlockPoints - 1;
                if (block.low <= block.high)
                    column.takeRange(block.low, chunk.first + block.lowAt, block.high, chunk.first + block.highAt);
                if (block.gapAt != kNone && !column.hasGap) {
                    column.hasGap = true;
                    column.gapAt = chunk.first + block.gapAt;
                }
                i += kBlockPoints;
                continue;
            }
            // Point by point to the edge or the block's end.
            const size_t blockEnd = std::min(stopAt, (i / kBlockPoints + 1) * kBlockPoints);
            for (; i < blockEnd && int64_t(chunk.offsets[i]) < edgeOffset; ++i)
                column.takePoint(chunk.first + i, chunk.values[i]);
        }
        index = end;
    }
    flush();
    if (last < count)
        out->push_back(at(last));
}

size_t EnvelopeStore::bytes() const {
    size_t total = chunks.capacity() * sizeof(void*);
    for (const auto& chunk : chunks)
        total += sizeof(Chunk) + chunk->offsets.capacity() * sizeof(uint32_t) + chunk->values.capacity() * sizeof(float) +
                 chunk->blocks.capacity() * sizeof(Block);
    return total;
}
