// Parts: part k covers bytes [k/n, (k+1)/n) of the body. Each notes every
// position it reads (where it starts, the DC predictors after it counted from
// the part's start); the positions of the part itself first, then those it
// reads past its end until it falls into step with the next part. Strips are
// then decoded from their first bits by StripDecoder::Next, exactly as one
// thread reads them there.
#include "band_decoder.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "entropy/block_decoder.h"
#include "format.h"
#include "streams.h"
#include "strips.h"
#include "threads.h"

namespace plix {

namespace {

constexpr size_t kNone = SIZE_MAX;

// Where a position starts (a bit of the body) and the DC predictors after it,
// counted from the part's start.
using Noted = PositionNote;

struct Part {
    uint64_t from = 0, to = 0;  // bits: positions starting in [from, to) are its own
    std::vector<Noted> own, over;
    uint64_t ownEnd = 0, overEnd = 0;  // where the position after the last noted starts
    bool readOn = false;               // over was read
    // Where its reading past its end fell into step: a later part's
    // position (kNone: with none, before the stream's end).
    size_t meetsPart = kNone, meetsAt = kNone;
    bool failed = false;

    size_t Count() const { return own.size() + over.size(); }
    const Noted &At(size_t i) const { return i < own.size() ? own[i] : over[i - own.size()]; }
    // Where position i starts; Count() gives where the last one ended.
    uint64_t Start(size_t i) const {
        if (i < Count()) return At(i).at;
        return readOn ? overEnd : ownEnd;
    }
};

class Reading {
public:
    Reading(const uint8_t *body, size_t size, uint8_t filler)
        : body_(body), size_(size), filler_(filler) {}

    // A reader at bit at of the body.
    void Open(StreamReader &r, uint64_t at, uint64_t &base) const {
        const uint64_t byte = std::min<uint64_t>(at / 8, size_);
        r.OpenRegion(byte < size_ ? body_ + byte : nullptr, static_cast<size_t>(size_ - byte),
                     filler_);
        for (uint64_t skip = at - byte * 8; skip > 0;) {
            const int n = static_cast<int>(std::min<uint64_t>(skip, 32));
            r.Refill();
            r.Skip(n);
            skip -= static_cast<uint64_t>(n);
        }
        base = byte * 8;
    }

    // Notes positions from bit at on with predictors dc into out, while
    // more(where the next starts) holds and fewer than cap are noted;
    // returns where the next would start.
    template <class More>
    uint64_t Read(StripDecoder &d, uint64_t at, const int32_t dc[3], std::vector<Noted> &out,
                  size_t cap, More more) const {
        StreamReader r;
        uint64_t base;
        Open(r, at, base);
        int32_t p[3] = {dc[0], dc[1], dc[2]};
        for (;;) {
            at = base + r.BitsTaken();
            if (out.size() >= cap || !more(at)) return at;
            d.ScanPosition(r, p);
            out.push_back(Noted{at, {p[0], p[1], p[2]}});
        }
    }

    // The same for a part's own positions: from bit at with predictors 0 on,
    // those starting before stop.
    uint64_t ReadOwn(uint64_t at, uint64_t stop, std::vector<Noted> &out, size_t cap) const {
        StreamReader r;
        uint64_t base;
        Open(r, at, base);
        int32_t p[3] = {0, 0, 0};
        while (out.size() < cap) {
            const size_t have = out.size();
            const size_t room = std::min(cap - have, std::max<size_t>(out.capacity() - have, 4096));
            out.resize(have + room);
            const size_t n = ScanPositions(r, p, base, stop, out.data() + have, room);
            out.resize(have + n);
            if (n < room) break;
        }
        return base + r.BitsTaken();
    }

    // Whole blocks of a strip starting at bit at with predictors, within the
    // data: as the one-thread decoder counts them where the data ends.
    uint64_t WholeBlocks(uint64_t at, const int32_t predictors[3], uint64_t blocks) const {
        const uint64_t start = at / 8;
        const uint64_t have = size_ > start ? size_ - start : 0;
        StreamReader r;
        r.OpenRegion(have > 0 ? body_ + start : nullptr, static_cast<size_t>(have), filler_);
        for (uint64_t i = 0; i < at % 8; ++i) r.ReadBit();
        return CountBlocksWithin(r, blocks, predictors, have * 8);
    }

    // The strip whose first row is top, from its first bit with predictors,
    // as the one-strip-at-a-time decoder reads it.
    void Strip(StripDecoder &d, uint64_t at, int64_t top, const int32_t predictors[3],
               uint8_t *rows, size_t rowBytes) const {
        const uint64_t start = at / 8;
        const uint64_t have = size_ > start ? size_ - start : 0;
        StreamReader r;
        r.OpenRegion(have > 0 ? body_ + start : nullptr, static_cast<size_t>(have), filler_);
        for (uint64_t i = 0; i < at % 8; ++i) r.ReadBit();
        d.Rewind({top, {predictors[0], predictors[1], predictors[2]}});
        d.Next(r, rows, rowBytes, false);
    }

private:
    const uint8_t *body_;
    size_t size_;
    uint8_t filler_;
};

// Positions first to first + count of a part (or of the tail) at abs.
struct Piece {
    const Part *part;
    size_t first;
    uint64_t count;
    uint64_t abs;
    int32_t offset[3];  // true predictors minus the part's count
};

int32_t Plus(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

bool DecodeInBands(const PlixHeader &header, const Dsp &k, const uint8_t *body, size_t size,
                   uint8_t filler, unsigned threads, int64_t minPixels, size_t minPartBytes,
                   const StripOut &out, BandOutcome &outcome) {
    const int64_t columns = header.BlockColumns();
    const int64_t strips = header.BlockRows();
    const uint64_t total = static_cast<uint64_t>(columns) * static_cast<uint64_t>(strips);
    const unsigned parts = WorkersFor(threads, size / std::max<size_t>(minPartBytes, 1));
    if (parts < 2 || strips < 2 || columns * strips * 64 < minPixels) return false;
    const Reading reading(body, size, filler);
    try {
        // The first part is decoded in full while the others are read for
        // their codes, which takes less time a byte: it gets the share that
        // ends both at once. Reading the codes alone (ScanPositions) takes
        // 0.28 to 0.35 of a decode's time a bit, whatever the bits a pixel.
        const double codes = 0.31;
        const double first = codes / (parts - 1 + codes);
        std::vector<Part> part(parts);
        for (unsigned i = 0; i < parts; ++i) {
            const auto at = [&](unsigned j) {
                if (j == 0) return uint64_t{0};
                if (j == parts) return uint64_t{size} * 8;
                const double share = first + (1 - first) * (j - 1) / (parts - 1);
                return static_cast<uint64_t>(share * static_cast<double>(size)) * 8;
            };
            part[i].from = at(i);
            part[i].to = at(i + 1);
        }
        const size_t cap = static_cast<size_t>(total);
        // The strips the first part decodes in full: their first bits and
        // predictors, and where the next one starts.
        std::vector<StripDecoder::Mark> done;
        std::vector<uint64_t> doneAt;
        uint64_t doneEnd = 0;
        int32_t donePredictors[3] = {0, 0, 0};
        const size_t rowBytes = static_cast<size_t>(columns) * 32;
        const unsigned workers = WorkersFor(threads, static_cast<size_t>(strips));
        std::vector<std::unique_ptr<uint8_t[]>> rows(std::max(workers, parts));
        for (auto &r : rows) r.reset(new uint8_t[rowBytes * 8]);
        done.reserve(static_cast<size_t>(strips));
        doneAt.reserve(static_cast<size_t>(strips));
        // Each part, the first from the true start, the others from a guess.
        ForEachItem(parts, parts, [&](size_t i, unsigned worker) {
            Part &p = part[i];
            try {
                StripDecoder d(header, k);
                if (i == 0) {
                    StreamReader r;
                    uint64_t base;
                    reading.Open(r, 0, base);
                    for (int64_t s = 0; s < strips; ++s) {
                        const uint64_t at = base + r.BitsTaken();
                        if (at >= p.to) break;
                        done.push_back(d.Here());
                        doneAt.push_back(at);
                        d.Next(r, rows[worker].get(), rowBytes, false);
                        out(s, rows[worker].get(), rowBytes);
                    }
                    doneEnd = base + r.BitsTaken();
                    for (int c = 0; c < 3; ++c) donePredictors[c] = d.Predictors()[c];
                    p.ownEnd = doneEnd;
                    return;
                }
                // Room for a little more than the bytes' share of the positions.
                p.own.reserve(static_cast<size_t>(std::min<uint64_t>(
                    total, total * (p.to - p.from) / (uint64_t{size} * 8) * 5 / 4 + 1024)));
                p.ownEnd = reading.ReadOwn(p.from, p.to, p.own, cap);
            } catch (...) {
                p.failed = true;
            }
        });
        for (const Part &p : part)
            if (p.failed) return false;
        // Each part but the last reads on until it falls into step with a
        // later one: the next, or where it passed all of that one's
        // positions without meeting one, the one after.
        ForEachItem(parts, parts - 1, [&](size_t i, unsigned) {
            Part &p = part[i];
            size_t m = i + 1, j = 0;
            try {
                StripDecoder d(header, k);
                const int32_t zero[3] = {0, 0, 0};
                p.overEnd = reading.Read(
                    d, p.ownEnd, p.own.empty() ? zero : p.own.back().dc, p.over,
                    cap - p.own.size(), [&](uint64_t at) {
                        for (;;) {
                            const Part &theirs = part[m];
                            while (j < theirs.own.size() && theirs.own[j].at < at) ++j;
                            if (j < theirs.own.size() ? theirs.own[j].at == at : at == theirs.ownEnd) {
                                p.meetsPart = m;
                                p.meetsAt = j;
                                return false;
                            }
                            if (j < theirs.own.size() || at < theirs.ownEnd) return true;
                            if (++m == parts) return false;  // the rest is the tail's
                            j = 0;
                        }
                    });
                p.readOn = true;
            } catch (...) {
                p.failed = true;
            }
        });
        for (const Part &p : part)
            if (p.failed) return false;

        // The join: every position's part and the true predictors, from the
        // first part on, each part to where it met a later one.
        std::vector<Piece> pieces;
        const uint64_t doneCount = done.size() * static_cast<uint64_t>(columns);
        uint64_t abs = doneCount;
        int32_t predictors[3] = {donePredictors[0], donePredictors[1], donePredictors[2]};
        uint64_t endAt = doneEnd;
        for (size_t i = 0, first = 0; abs < total;) {
            const Part &p = part[i];
            Piece piece{&p, first, 0, abs, {}};
            for (int c = 0; c < 3; ++c)
                piece.offset[c] = static_cast<int32_t>(
                    static_cast<uint32_t>(predictors[c]) -
                    static_cast<uint32_t>(first > 0 ? p.At(first - 1).dc[c] : 0));
            piece.count = std::min<uint64_t>(p.Count() - first, total - abs);
            abs += piece.count;
            const size_t last = first + static_cast<size_t>(piece.count);
            endAt = p.Start(last);
            if (last > first)
                for (int c = 0; c < 3; ++c) predictors[c] = Plus(p.At(last - 1).dc[c], piece.offset[c]);
            pieces.push_back(piece);
            if (p.meetsPart == kNone) break;
            first = p.meetsAt;
            i = p.meetsPart;
        }
        // The rest (from the filler, after a stream that ends early) on this
        // thread.
        Part tail;
        if (abs < total) {
            StripDecoder d(header, k);
            tail.ownEnd = reading.Read(d, endAt, predictors, tail.own,
                                       static_cast<size_t>(total - abs), [](uint64_t) { return true; });
            pieces.push_back(Piece{&tail, 0, total - abs, abs, {0, 0, 0}});
            endAt = tail.ownEnd;
        }

        // Where position p starts, and the true predictors before it.
        const auto find = [&](uint64_t p) -> const Piece & {
            return *std::prev(std::upper_bound(pieces.begin(), pieces.end(), p,
                                               [](uint64_t v, const Piece &x) { return v < x.abs; }));
        };
        const auto start = [&](uint64_t p) {
            if (p >= total) return endAt;
            if (p < doneCount) return doneAt[static_cast<size_t>(p / static_cast<uint64_t>(columns))];
            if (p == doneCount) return doneEnd;
            const Piece &x = find(p);
            return x.part->Start(x.first + static_cast<size_t>(p - x.abs));
        };
        // (Asked for strips' first positions only.)
        const auto before = [&](uint64_t p, int32_t predictors[3]) {
            if (p <= doneCount) {
                const int32_t *from = p < doneCount ? done[static_cast<size_t>(p / static_cast<uint64_t>(columns))].predictors
                                                    : donePredictors;
                for (int c = 0; c < 3; ++c) predictors[c] = from[c];
                return;
            }
            const Piece &x = find(p - 1);
            const Noted &n = x.part->At(x.first + static_cast<size_t>(p - 1 - x.abs));
            for (int c = 0; c < 3; ++c) predictors[c] = Plus(n.dc[c], x.offset[c]);
        };
        // The outcome as the one-thread decoder finds it: the first strip that
        // ends past the data has its whole blocks counted.
        const uint64_t perStrip = 3 * static_cast<uint64_t>(columns);
        outcome = BandOutcome{false, perStrip * static_cast<uint64_t>(strips)};
        for (int64_t s = 0; s < strips; ++s) {
            const uint64_t first = static_cast<uint64_t>(s * columns);
            if (start(first + static_cast<uint64_t>(columns)) <= uint64_t{size} * 8) continue;
            int32_t p[3];
            before(first, p);
            outcome.truncated = true;
            outcome.blocksPresent =
                perStrip * static_cast<uint64_t>(s) + reading.WholeBlocks(start(first), p, perStrip);
            break;
        }

        // The other strips in full, a strip at a time on every thread.
        std::vector<std::unique_ptr<StripDecoder>> decoders(workers);
        for (auto &d : decoders) d = std::make_unique<StripDecoder>(header, k);
        ForEachItem(workers, static_cast<size_t>(strips) - done.size(), [&](size_t n, unsigned w) {
            const size_t s = done.size() + n;
            const uint64_t first = static_cast<uint64_t>(s) * static_cast<uint64_t>(columns);
            int32_t p[3];
            before(first, p);
            reading.Strip(*decoders[w], start(first), static_cast<int64_t>(s) * 8, p, rows[w].get(),
                          rowBytes);
            out(static_cast<int64_t>(s), rows[w].get(), rowBytes);
        });
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

}  // namespace plix
