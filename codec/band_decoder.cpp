// Parts: the bytes but the tail's shared out evenly, part 0 from the start.
// Each part notes every position it reads (where it starts, the DC
// predictors after it counted from the part's start); the positions of the
// part itself first, then those it reads past its end until it falls into
// step with a later part. Strips are then decoded from their first bits by
// StripDecoder::Next, exactly as one thread reads them there, or, where one
// part kept all their positions, by StripDecoder::NextKept, which gives the
// same.
#include "band_decoder.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>
#include <vector>
#include <atomic>

#include "entropy/block_decoder.h"
#include "format.h"
#include "kernel_table.h"
#include "recycled.h"
#include "streams.h"
#include "strips.h"
#include "threads.h"

namespace plix {

namespace {

constexpr size_t kNone = SIZE_MAX;

// Where a position starts (a bit of the body) and the DC predictors after it,
// counted from the part's start.
using Noted = PositionNote;

using Notes = std::vector<Noted, Recycling<Noted>>;

struct Part {
    uint64_t from = 0, to = 0;  // bits: positions starting in [from, to) are its own
    Notes own, over;
    // Its first positions decoded ahead (kept[i] for own[i]), their values.
    std::vector<KeptPosition, Recycling<KeptPosition>> kept;
    RecycledArray<int16_t> values;
    size_t valuesRoom = 0;
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
    uint64_t Read(StripDecoder &d, uint64_t at, const int32_t dc[3], Notes &out,
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
    // those starting before stop. With d, as many as p's room allows are
    // decoded ahead into it.
    uint64_t ReadOwn(uint64_t at, uint64_t stop, Notes &out, size_t cap,
                     StripDecoder *d = nullptr, Part *p = nullptr) const {
        StreamReader r;
        uint64_t base;
        Open(r, at, base);
        int32_t dc[3] = {0, 0, 0};
        if (d) {
            size_t used = 0;
            while (out.size() < cap && used + kPositionKeptValues <= p->valuesRoom) {
                const size_t have = out.size();
                const size_t room = std::min(cap - have, std::max<size_t>(out.capacity() - have, 4096));
                out.resize(have + room);
                p->kept.resize(have + room);
                const size_t n = d->KeepPositions(r, dc, base, stop, out.data() + have,
                                                  p->kept.data() + have, room, p->values.get(),
                                                  used, p->valuesRoom);
                out.resize(have + n);
                p->kept.resize(have + n);
                if (n < room && used + kPositionKeptValues <= p->valuesRoom) return base + r.BitsTaken();
            }
        }
        while (out.size() < cap) {
            const size_t have = out.size();
            const size_t room = std::min(cap - have, std::max<size_t>(out.capacity() - have, 4096));
            out.resize(have + room);
            const size_t n = ScanPositions(r, dc, base, stop, out.data() + have, room);
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
                   const StripOut &out, BandOutcome &outcome, const BandStart &from,
                   int64_t firstStrips, int64_t tailFrom, uint64_t mostKept) {
    const int64_t columns = header.BlockColumns();
    const int64_t first = std::clamp<int64_t>(from.strip, 0, header.BlockRows());
    const int64_t strips = from.strips < 0 ? header.BlockRows() - first
                                           : std::min(from.strips, header.BlockRows() - first);
    const uint64_t total = static_cast<uint64_t>(columns) * static_cast<uint64_t>(strips);
    // The bytes the parts share: from the first strip's on, as many as it
    // and those after are expected to take.
    const uint64_t startByte = std::min<uint64_t>(from.bit / 8, size);
    const uint64_t span = from.expectBytes > 0 ? std::min<uint64_t>(from.expectBytes, size - startByte)
                                               : size - startByte;
    const unsigned parts = WorkersFor(threads, static_cast<size_t>(span / std::max<size_t>(minPartBytes, 1)));
    if (parts < 2 || strips < 2 || columns * strips * 64 < minPixels) return false;
    const Reading reading(body, size, filler);
    const unsigned team = std::max(parts, WorkersFor(threads, static_cast<size_t>(strips)));
    // Shares of the bytes: part 0 (a), decoded in full, while the others
    // decode theirs (b each) ahead of the join; the shares are only
    // guesses: thread 0 decodes on until the others are done, and whoever
    // is free takes the strips left.
    // Where the others keep their positions, which takes s of the time a
    // byte, a = s b ends part 0 when they are done, and then all turn the
    // positions kept into pixels. Keeping costs what reading the codes does,
    // about in proportion to the bits, while a full decode adds the
    // transforms, in proportion to the positions: s from the bits a
    // position takes, as timed here (0.72 at 314 bits, 0.58 at 83, 0.48 at
    // 38).
    // Where they read their codes alone, which takes r = 0.4 of the time a
    // byte, the parts end well before the stream does: a = r b, and the
    // tail (t) is decoded by thread 0 straight on from the join while the
    // others decode the noted strips again. With n threads,
    // t = m (W / n - a), W = 1 + r (n - 1) b the work in all, ends the tail
    // a little (m) before the noted strips, so that its thread then helps
    // with them.
    const double bits = static_cast<double>(span) * 8 / static_cast<double>(std::max<uint64_t>(total, 1));
    const bool keep = k.keepPosition && bits >= k.keepFromBits;
    const double n = parts;
    double partZero, b;
    if (keep) {
        const double s = std::clamp((15 + 0.53 * bits) / (48 + 0.65 * bits), 0.35, 0.8);
        b = 1 / (s + n - 1);
        partZero = s * b;
    } else {
        const double r = 0.4, m = 0.95;
        b = (1 - m / n) / (r + n - 1 + m * r * (n - 1) / n - m * r);
        partZero = r * b;
    }
    std::vector<Part> part;
    std::vector<StripDecoder::Mark> done;  // the strips decoded in full from the start
    std::vector<uint64_t> doneAt;          // their first bits
    RecycledArray<uint8_t> rows;  // thread 0's strip
    const size_t rowBytes = static_cast<size_t>(columns) * 32;
    try {
        part.resize(parts);
        for (unsigned i = 0; i < parts; ++i) {
            const auto at = [&](unsigned j) {
                if (j == 0) return from.bit;
                const double share = partZero + b * (j - 1);
                return (startByte + static_cast<uint64_t>(share * static_cast<double>(span))) * 8;
            };
            part[i].from = at(i);
            part[i].to = at(i + 1);
        }
        rows = RecycledArray<uint8_t>(rowBytes * 8);
        done.reserve(static_cast<size_t>(strips));
        doneAt.reserve(static_cast<size_t>(strips));
    } catch (const std::bad_alloc &) {
        return false;
    }
    uint64_t doneEnd = from.bit;  // where the strip after them starts
    int32_t donePredictors[3] = {from.predictors[0], from.predictors[1], from.predictors[2]};
    uint64_t doneCount = 0;  // their positions
    const size_t cap = static_cast<size_t>(total);

    // Room for a little more than the bytes' share of the positions.
    const auto ownRoom = [&](uint64_t from, uint64_t to, size_t most) {
        return static_cast<size_t>(
            std::min<uint64_t>(most, total * (to - from) / (uint64_t{size} * 8) * 5 / 4 + 1024));
    };
    // Taken here, on the calling thread, where it can: memory a thread of
    // its own takes comes from its arena, which hands freed pages back at
    // once, so that each call would fault them in anew.
    try {
        for (unsigned i = 1; i < parts; ++i)
            part[i].own.reserve(ownRoom(part[i].from, part[i].to, cap));
        for (unsigned i = 1; i < parts && keep; ++i) {
            Part &p = part[i];
            p.kept.reserve(ownRoom(p.from, p.to, cap));
            // A value took 5.5 to 6 bits in photographs at q0, fewer
            // bits only in rarer pictures: the rest of a part past the
            // room is read for the codes alone. Room for every value a part
            // could hold (one in 3 bits) would not stay in the recycled
            // memory for the larger pictures.
            const size_t room = static_cast<size_t>(
                std::min<uint64_t>((p.to - p.from) / 4 + 4096, mostKept / (parts - 1)));
            p.values = RecycledArray<int16_t>(room);
            p.valuesRoom = room;
        }
    } catch (const std::bad_alloc &) {
    }
    // Positions from bit from on, those starting before to, into p.own.
    const auto readOwn = [&](Part &p, uint64_t from, uint64_t to, size_t most) {
        p.own.reserve(ownRoom(from, to, most));
        if (p.valuesRoom > 0) {
            StripDecoder d(header, k);
            p.ownEnd = reading.ReadOwn(from, to, p.own, most, &d, &p);
        } else {
            p.ownEnd = reading.ReadOwn(from, to, p.own, most);
        }
    };
    // Part i reads on past its end until it falls into step with a later one:
    // the next, or where it passed all of that one's positions without
    // meeting one, the one after.
    const auto readOn = [&](size_t i, size_t most) {
        Part &p = part[i];
        size_t m = i + 1, j = 0;
        StripDecoder d(header, k);
        const int32_t zero[3] = {0, 0, 0};
        p.overEnd = reading.Read(d, p.ownEnd, p.own.empty() ? zero : p.own.back().dc, p.over, most,
                                 [&](uint64_t at) {
                                     for (;;) {
                                         const Part &theirs = part[m];
                                         while (j < theirs.own.size() && theirs.own[j].at < at) ++j;
                                         if (j < theirs.own.size() ? theirs.own[j].at == at
                                                                   : at == theirs.ownEnd) {
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
    };

    // The join (by thread 0, once every part is read): every position's part
    // and the true predictors, from the end of the strips decoded in full
    // on, each part to where it met a later one, up to the tail's first
    // strip.
    std::vector<Piece> pieces;
    Part led;                    // positions read on to the tail's first strip
    int64_t tailStrip = strips;  // the tail's first strip
    uint64_t tailPos = total;    // and position
    uint64_t endAt = 0;          // where that position starts
    int32_t endPredictors[3] = {0, 0, 0};
    std::vector<StripDecoder::Mark> tailMarks;  // each strip of the tail as it began
    std::vector<uint64_t> tailAt;
    uint64_t tailEnd = 0;  // where the position after the last decoded starts
    // The pieces for positions up to limit, or as far as the parts reach.
    const auto walk = [&](uint64_t limit) {
        pieces.clear();
        uint64_t abs = doneCount;
        int32_t predictors[3] = {donePredictors[0], donePredictors[1], donePredictors[2]};
        endAt = doneEnd;
        for (size_t i = 0, first = 0; abs < limit;) {
            const Part &p = part[i];
            Piece piece{&p, first, 0, abs, {}};
            for (int c = 0; c < 3; ++c)
                piece.offset[c] = static_cast<int32_t>(
                    static_cast<uint32_t>(predictors[c]) -
                    static_cast<uint32_t>(first > 0 ? p.At(first - 1).dc[c] : 0));
            piece.count = std::min<uint64_t>(p.Count() - first, limit - abs);
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
        for (int c = 0; c < 3; ++c) endPredictors[c] = predictors[c];
        return abs;
    };
    const auto join = [&] {
        doneCount = done.size() * static_cast<uint64_t>(columns);
        const uint64_t reached = walk(total);
        tailStrip = tailFrom >= 0 ? std::clamp<int64_t>(tailFrom, static_cast<int64_t>(done.size()), strips)
                                  : static_cast<int64_t>((reached + static_cast<uint64_t>(columns) - 1) /
                                                         static_cast<uint64_t>(columns));
        tailPos = static_cast<uint64_t>(tailStrip) * static_cast<uint64_t>(columns);
        const uint64_t abs = walk(tailPos);
        // On to the tail's first strip (and, after a stream that ends early,
        // through the filler) for the codes alone.
        if (abs < tailPos) {
            StripDecoder d(header, k);
            led.ownEnd = reading.Read(d, endAt, endPredictors, led.own,
                                      static_cast<size_t>(tailPos - abs), [](uint64_t) { return true; });
            pieces.push_back(Piece{&led, 0, tailPos - abs, abs, {0, 0, 0}});
            endAt = led.ownEnd;
            if (!led.own.empty())
                for (int c = 0; c < 3; ++c) endPredictors[c] = led.own.back().dc[c];
        }
        tailEnd = endAt;
        tailMarks.reserve(static_cast<size_t>(strips - tailStrip));
        tailAt.reserve(static_cast<size_t>(strips - tailStrip));
    };
    // Where position p starts, and the true predictors before it.
    const auto find = [&](uint64_t p) -> const Piece & {
        return *std::prev(std::upper_bound(pieces.begin(), pieces.end(), p,
                                           [](uint64_t v, const Piece &x) { return v < x.abs; }));
    };
    // (Both asked for strips' first positions and the end only.)
    const auto start = [&](uint64_t p) {
        if (p >= tailPos) {
            const uint64_t s = (p - tailPos) / static_cast<uint64_t>(columns);
            return s < tailAt.size() ? tailAt[static_cast<size_t>(s)] : tailEnd;
        }
        if (p < doneCount) return doneAt[static_cast<size_t>(p / static_cast<uint64_t>(columns))];
        if (p == doneCount) return doneEnd;
        const Piece &x = find(p);
        return x.part->Start(x.first + static_cast<size_t>(p - x.abs));
    };
    const auto before = [&](uint64_t p, int32_t predictors[3]) {
        const uint64_t s = p >= tailPos ? (p - tailPos) / static_cast<uint64_t>(columns) : 0;
        if (p >= tailPos && s < tailMarks.size()) {
            for (int c = 0; c < 3; ++c) predictors[c] = tailMarks[static_cast<size_t>(s)].predictors[c];
            return;
        }
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
    const auto count = [&] {
        const uint64_t perStrip = 3 * static_cast<uint64_t>(columns);
        outcome.truncated = false;
        outcome.blocksPresent = perStrip * static_cast<uint64_t>(strips);
        for (int64_t s = 0; s < strips; ++s) {
            const uint64_t at = static_cast<uint64_t>(s * columns);
            if (start(at + static_cast<uint64_t>(columns)) <= uint64_t{size} * 8) continue;
            int32_t p[3];
            before(at, p);
            outcome.truncated = true;
            outcome.blocksPresent =
                perStrip * static_cast<uint64_t>(s) + reading.WholeBlocks(start(at), p, perStrip);
            break;
        }
    };

    // One round of threads. Thread 0 decodes from the start; the others read
    // parts 1 on for their codes, then each part on into the next. Once
    // every part is read, thread 0 stops at the next strip and joins the
    // parts, then decodes the tail strip after strip while the others take
    // the strips before it, in order, from their first bits; then it takes
    // them too. A thread that cannot be started leaves its parts to the
    // others; with none, thread 0 decodes them all.
    enum Stage : unsigned { kReading, kStrips, kGiveUp };
    std::atomic<unsigned> stage{kReading};
    std::atomic<size_t> scansLeft{parts - 1}, readOnsLeft{parts - 1};
    std::atomic<size_t> nextScan{1}, nextReadOn{1}, nextStrip{0};
    size_t poolEnd = 0;  // the strips before the tail (set before kStrips)
    // Where the data may go on: the first strip that did not end within it.
    // No strip from it on goes to out.
    std::atomic<int64_t> cut{strips};
    const uint64_t dataBits = uint64_t{size} * 8;
    const auto over = [&](int64_t s, uint64_t end) {
        if (!from.partial || end <= dataBits) return false;
        for (int64_t c = cut.load(std::memory_order_relaxed);
             s < c && !cut.compare_exchange_weak(c, s, std::memory_order_relaxed);) {
        }
        return true;
    };
    Signal signal;
    // Where strip s (from the first) is decoded: the caller's rows, or the
    // thread's own.
    const auto place = [&](int64_t s, uint8_t *buffer) {
        return from.rows ? from.rows + static_cast<size_t>(s) * 8 * rowBytes : buffer;
    };
    // Strip s decoded straight on from where r stands (base: r's first
    // bit), noting where it began; false where it ran past the data.
    const auto straight = [&](StripDecoder &d, StreamReader &r, uint64_t base, int64_t s,
                              std::vector<StripDecoder::Mark> &marks, std::vector<uint64_t> &starts,
                              uint8_t *buffer) {
        marks.push_back(d.Here());
        starts.push_back(base + r.BitsTaken());
        uint8_t *const into = place(s, buffer);
        d.Next(r, into, rowBytes, false);
        if (over(s, base + r.BitsTaken())) return false;
        out(first + s, into, rowBytes);
        return true;
    };
    const auto decodeStrips = [&](StripDecoder &d, uint8_t *buffer) {
        for (size_t s; (s = nextStrip.fetch_add(1, std::memory_order_relaxed)) < poolEnd;) {
            const uint64_t at = static_cast<uint64_t>(s) * static_cast<uint64_t>(columns);
            // (The tail's first bit is known before the tail is decoded.)
            if (over(static_cast<int64_t>(s),
                     s + 1 == poolEnd ? endAt : start(at + static_cast<uint64_t>(columns))))
                continue;
            uint8_t *const into = place(static_cast<int64_t>(s), buffer);
            const int64_t top = (first + static_cast<int64_t>(s)) * 8;
            // From positions decoded ahead where one part has them all.
            if (at >= doneCount) {
                const Piece &x = find(at);
                const size_t i = x.first + static_cast<size_t>(at - x.abs);
                if (at + static_cast<uint64_t>(columns) <= x.abs + x.count &&
                    i + static_cast<size_t>(columns) <= x.part->kept.size()) {
                    d.Rewind({top, {0, 0, 0}});
                    d.NextKept(&x.part->kept[i], &x.part->own[i], x.part->values.get(), x.offset,
                               into, rowBytes);
                    out(first + static_cast<int64_t>(s), into, rowBytes);
                    continue;
                }
            }
            int32_t p[3];
            before(at, p);
            reading.Strip(d, start(at), top, p, into, rowBytes);
            out(first + static_cast<int64_t>(s), into, rowBytes);
        }
    };
    // The parts after the first that are read on into the next, by whichever
    // thread is free.
    const auto readOns = [&] {
        for (size_t i; (i = nextReadOn.fetch_add(1, std::memory_order_relaxed)) < parts - 1;) {
            try {
                readOn(i, cap - part[i].own.size());
            } catch (...) {
                part[i].failed = true;
            }
            if (readOnsLeft.fetch_sub(1, std::memory_order_acq_rel) == 1) signal.Tell();
        }
    };
    // Parts 1 on for their codes, by whichever thread is free.
    const auto scans = [&] {
        for (size_t i; (i = nextScan.fetch_add(1, std::memory_order_relaxed)) < parts;) {
            Part &p = part[i];
            try {
                readOwn(p, p.from, p.to, cap);
            } catch (...) {
                p.failed = true;
            }
            if (scansLeft.fetch_sub(1, std::memory_order_acq_rel) == 1) signal.Tell();
        }
        signal.Wait([&] { return scansLeft.load(std::memory_order_acquire) == 0; });
    };
    const auto helper = [&] {
        scans();
        // (Thread 0 may have decoded everything meanwhile.)
        if (stage.load(std::memory_order_acquire) == kReading) readOns();
        signal.Wait([&] { return stage.load(std::memory_order_acquire) != kReading; });
        if (stage.load(std::memory_order_acquire) != kStrips) return;
        // Each thread's strip from an allocation of its own, on pages of its
        // own: with all of them allocated by thread 0, one after the other,
        // two-thread decodes took 2 to 13 % longer.
        RecycledArray<uint8_t> own;
        try {
            own = RecycledArray<uint8_t>(rowBytes * 8 + 4096);
        } catch (...) {
            return;  // (the others take the strips)
        }
        StripDecoder d(header, k);
        decodeStrips(d, own.get() + (4096 - (reinterpret_cast<uintptr_t>(own.get()) & 4095)) % 4096);
    };
    bool ok = true;
    RunTogether(team, [&](unsigned worker) {
        if (worker > 0) {
            helper();
            return;
        }
        try {
            StripDecoder d(header, k);
            uint8_t *const buffer = rows.get();
            StreamReader r;
            uint64_t base;
            reading.Open(r, from.bit, base);
            d.Rewind({first * 8, {from.predictors[0], from.predictors[1], from.predictors[2]}});
            for (int64_t s = 0; s < strips; ++s) {
                if (firstStrips >= 0 ? s == firstStrips : scansLeft.load(std::memory_order_acquire) == 0)
                    break;
                if (!straight(d, r, base, s, done, doneAt, buffer)) break;
            }
            doneEnd = base + r.BitsTaken();
            for (int c = 0; c < 3; ++c) donePredictors[c] = d.Predictors()[c];
            if (done.size() < static_cast<size_t>(strips)) {
                // The rest of the first part for the codes alone, then on into
                // the parts after.
                scans();  // (those no other thread took)
                Part &p = part[0];
                try {
                    const size_t left = static_cast<size_t>(total - done.size() * static_cast<uint64_t>(columns));
                    if (doneEnd < p.to)
                        readOwn(p, doneEnd, p.to, left);
                    else
                        p.ownEnd = doneEnd;
                    readOn(0, left - p.own.size());
                } catch (...) {
                    p.failed = true;
                }
                if (readOnsLeft.fetch_sub(1, std::memory_order_acq_rel) == 1) signal.Tell();
                readOns();
                signal.Wait([&] { return readOnsLeft.load(std::memory_order_acquire) == 0; });
                for (const Part &q : part)
                    if (q.failed) ok = false;
            }
            if (ok) join();
            nextStrip.store(done.size(), std::memory_order_relaxed);
            poolEnd = static_cast<size_t>(tailStrip);
            stage.store(ok ? kStrips : kGiveUp, std::memory_order_release);
            signal.Tell();
            if (ok) {
                if (tailStrip > static_cast<int64_t>(done.size())) reading.Open(r, endAt, base);
                d.Rewind({(first + tailStrip) * 8, {endPredictors[0], endPredictors[1], endPredictors[2]}});
                for (int64_t s = tailStrip; s < strips; ++s)
                    if (!straight(d, r, base, s, tailMarks, tailAt, buffer)) break;
                tailEnd = base + r.BitsTaken();
                const int32_t *after = d.Predictors();
                int32_t last[3] = {after[0], after[1], after[2]};
                if (!from.partial) count();
                outcome.endBit = tailEnd;
                for (int c = 0; c < 3; ++c) outcome.endPredictors[c] = last[c];
                decodeStrips(d, buffer);
            }
        } catch (...) {
            ok = false;
        }
        if (stage.load(std::memory_order_relaxed) == kReading) {
            stage.store(kGiveUp, std::memory_order_release);
            signal.Tell();
        }
    });
    if (ok) {
        outcome.strips = cut.load(std::memory_order_relaxed);
        if (outcome.strips < strips) {
            const uint64_t at = static_cast<uint64_t>(outcome.strips) * static_cast<uint64_t>(columns);
            outcome.endBit = start(at);
            before(at, outcome.endPredictors);
        }
    }
    return ok;
}

}  // namespace plix
