// The ring: slots of one strip's blocks go free -> filled by the reader ->
// ready -> turned into pixels by any thread -> free. The reader waits only
// when every slot is ready or being turned into pixels, and takes a ready
// one itself before it waits, so neither half of the work idles while the
// other has some.
#include "band_decoder.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "format.h"
#include "streams.h"
#include "strips.h"
#include "threads.h"

namespace plix {

namespace {

// Slots per thread: enough that the reader seldom waits.
constexpr unsigned kSlotsPerThread = 2;
// Ready strips that wake a waiting thread.
constexpr size_t kWakeAt = 2;

// A queue of slot numbers with room for all of them, so that nothing is
// allocated while threads run.
class SlotQueue {
public:
    explicit SlotQueue(size_t capacity) : items_(capacity) {}
    bool Empty() const { return count_ == 0; }
    void Push(size_t v) {
        items_[(head_ + count_++) % items_.size()] = v;
    }
    size_t Pop() {
        const size_t v = items_[head_];
        head_ = (head_ + 1) % items_.size();
        --count_;
        return v;
    }

private:
    std::vector<size_t> items_;
    size_t head_ = 0, count_ = 0;
};

struct Slot {
    StripDecoder::Coefficients blocks;
    int64_t strip = 0;
};

}  // namespace

bool DecodeInBands(const PlixHeader &header, const Dsp &k, const uint8_t *body, size_t size,
                   uint8_t filler, unsigned threads, int64_t minPixels, const StripOut &out,
                   BandOutcome &outcome) {
    const int64_t columns = header.BlockColumns();
    const int64_t strips = header.BlockRows();
    const unsigned workers = WorkersFor(threads, static_cast<size_t>(strips));
    if (workers < 2 || strips < 2 || columns * strips * 64 < minPixels) return false;
    const size_t rowBytes = static_cast<size_t>(columns) * 32;
    const size_t slotCount = size_t{workers} * kSlotsPerThread;

    StripDecoder reader(header, k);
    std::vector<Slot> slots;
    std::vector<std::unique_ptr<uint8_t[]>> rows;
    SlotQueue free(slotCount), ready(slotCount);
    try {
        slots.resize(slotCount);
        for (size_t i = 0; i < slotCount; ++i) {
            slots[i].blocks = reader.NewCoefficients();
            free.Push(i);
        }
        for (unsigned w = 0; w < workers; ++w) rows.emplace_back(new uint8_t[rowBytes * 8]);
    } catch (const std::bad_alloc &) {
        return false;
    }

    // Waking a thread costs about as much as a narrow strip's pixels, so
    // the reader wakes the others only when a few strips are ready for them,
    // and they wake it only when it waits for a slot.
    std::mutex m;
    std::condition_variable work, room;
    bool read = false;  // every strip's blocks are in a slot
    unsigned idle = 0;  // threads waiting for work
    bool full = false;  // the reader waits for a slot
    const size_t wakeAt = std::min<size_t>(kWakeAt, slotCount - 1);
    size_t readyCount = 0;
    const auto pixels = [&](size_t slot, unsigned worker) {
        StripDecoder d(header, k);
        d.PixelsFrom(slots[slot].blocks, slots[slot].strip * 8, rows[worker].get(), rowBytes);
        out(slots[slot].strip, rows[worker].get(), rowBytes);
    };
    // Under the lock: the next ready slot.
    const auto take = [&] {
        --readyCount;
        return ready.Pop();
    };
    // Under the lock: a slot is free again.
    const auto release = [&](size_t slot) {
        free.Push(slot);
        if (full) room.notify_one();
    };

    // The reader: strip by strip as one thread alone, the count of whole
    // blocks found as it finds it where the data ends.
    const auto readAll = [&](unsigned worker) {
        StreamReader r;
        r.OpenRegion(size > 0 ? body : nullptr, size, filler);
        const uint64_t dataBits = uint64_t{size} * 8;
        const uint64_t perStrip = 3 * static_cast<uint64_t>(columns);
        outcome = BandOutcome{false, perStrip * static_cast<uint64_t>(strips)};
        for (int64_t s = 0; s < strips; ++s) {
            size_t slot;
            {
                std::unique_lock<std::mutex> lock(m);
                while (free.Empty()) {
                    if (readyCount == 0) {
                        full = true;
                        room.wait(lock);
                        full = false;
                        continue;
                    }
                    // Every slot is taken: turn one into pixels meanwhile.
                    const size_t other = take();
                    lock.unlock();
                    pixels(other, worker);
                    lock.lock();
                    free.Push(other);
                }
                slot = free.Pop();
            }
            const uint64_t at = r.BitsTaken();
            const StripDecoder::Mark mark = reader.Here();
            slots[slot].strip = s;
            reader.NextCoefficients(r, slots[slot].blocks);
            if (!outcome.truncated && r.BitsTaken() > dataBits) {
                // As the one-strip-at-a-time decoder counts them: from the
                // strip's first byte, over the data left from there.
                outcome.truncated = true;
                const uint64_t start = at / 8;
                const uint64_t have = size > start ? size - start : 0;
                StreamReader count;
                count.OpenRegion(have > 0 ? body + start : nullptr, static_cast<size_t>(have), filler);
                for (uint64_t i = 0; i < at % 8; ++i) count.ReadBit();
                outcome.blocksPresent = perStrip * static_cast<uint64_t>(s) +
                                        CountBlocksWithin(count, perStrip, mark.predictors, have * 8);
            }
            std::lock_guard<std::mutex> lock(m);
            ready.Push(slot);
            if (++readyCount >= wakeAt && idle > 0) work.notify_one();
        }
        std::lock_guard<std::mutex> lock(m);
        read = true;
        work.notify_all();
    };

    // Item 0 reads (and turns strips into pixels while the ring is full);
    // the others, and item 0 once it has read everything, turn strips into
    // pixels until none is left.
    ForEachItem(workers, workers, [&](size_t item, unsigned worker) {
        if (item == 0) readAll(worker);
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            if (readyCount > 0) {
                const size_t slot = take();
                // More than one left: another thread may take them.
                if (readyCount >= wakeAt && idle > 0) work.notify_one();
                lock.unlock();
                pixels(slot, worker);
                lock.lock();
                release(slot);
            } else if (read) {
                return;
            } else {
                ++idle;
                work.wait(lock);
                --idle;
            }
        }
    });
    reader.Finish();
    return true;
}

}  // namespace plix
