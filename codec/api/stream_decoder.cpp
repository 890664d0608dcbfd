// A strip is tried as soon as some of its bytes are in, and taken only when it
// ended within them (or the input is finished): the bits it took are then
// those of the whole file, and once finished the reader delivers the filler
// the classic reader would. Hence rows and counts do not depend on how the
// bytes were cut. A try that ran out is undone; the next waits for twice the
// bytes, so retries cost a few strips' work at most, and none is needed
// once the most a strip can take is in.
#include "api/stream_decoder.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "api/pixel_rows.h"
#include "band_decoder.h"
#include "dsp/dsp.h"

namespace plix::api {

namespace {

constexpr uint64_t kDefaultMaxPixels = uint64_t{1} << 28;
// The classic reader fetches its data in chunks from the start of the body
// and, past the end, repeats the first byte of the last chunk.
constexpr uint64_t kFillerSpacing = kStreamChunk;
// The most bytes kept waiting for strips to decode ahead on threads: past
// it they are decoded one by one as they come.
constexpr uint64_t kMostAheadBytes = uint64_t{32} << 20;

}  // namespace

void FillInfo(const PlixHeader &header, plix_info *info) {
    *info = plix_info{};
    info->width = static_cast<uint32_t>(header.width);
    info->height = static_cast<uint32_t>(header.height);
    info->mode = header.mode == 0 ? 0 : 1;
    info->matrix = header.matrix;
    info->qfactor = header.qfactor;
    info->blocks = header.ComponentBlocks();
}

int ReadInfo(const void *data, size_t size, PlixHeader &header, plix_info *info) {
    if (ReadHeader(data, size, header) != HeaderCheck::kOk) return PLIX_ERROR_NOT_PLIX;
    if (info) FillInfo(header, info);
    return PLIX_OK;
}

int Scan(const uint8_t *data, size_t size, plix_info &info) {
    PlixHeader header;
    if (ReadInfo(data, size, header, &info) != PLIX_OK) return PLIX_ERROR_NOT_PLIX;
    const size_t start = std::min(size, kHeaderSize + header.extra);
    StreamReader reader;
    reader.OpenRegion(data + start, size - start, 0);
    const int32_t predictors[3] = {0, 0, 0};
    info.blocks_present =
        CountBlocksWithin(reader, info.blocks, predictors, uint64_t{size - start} * 8);
    return info.blocks_present == info.blocks ? PLIX_OK : PLIX_TRUNCATED;
}

StreamDecoder::StreamDecoder(const plix_decode_options *options)
    : maxPixels_(options && options->max_pixels ? options->max_pixels : kDefaultMaxPixels),
      threads_(options ? std::min(options->threads, kMaxThreads) : 1) {}

int StreamDecoder::Fail(int error) {
    phase_ = Phase::kFailed;
    error_ = error;
    kept_ = {};
    strip_.reset();
    window_.reset();
    aheadStrips_ = nextAhead_ = 0;
    return error;
}

int StreamDecoder::TakeHeader(const uint8_t *&data, size_t &size) {
    if (phase_ == Phase::kHeader) {
        const size_t take = std::min(size, kHeaderSize - headBytes_);
        std::memcpy(head_ + headBytes_, data, take);
        headBytes_ += take;
        data += take;
        size -= take;
        if (headBytes_ < kHeaderSize) return PLIX_OK;
        if (ReadInfo(head_, kHeaderSize, header_, nullptr) != PLIX_OK)
            return Fail(PLIX_ERROR_NOT_PLIX);
        if (static_cast<uint64_t>(header_.width) * static_cast<uint64_t>(header_.height) >
            maxPixels_)
            return Fail(PLIX_ERROR_LIMIT);
        if (HasPixels()) {
            // A strip this wide cannot be held; a picture of no rows needs none.
            if (header_.width > kMaxStripWidth) return Fail(PLIX_ERROR_MEMORY);
            strips_.emplace(header_, Kernels());
            stripRowBytes_ = static_cast<size_t>(strips_->PaddedWidth()) * 4;
            strip_.reset(new (std::nothrow) uint8_t[stripRowBytes_ * 8]);
            if (!strip_) return Fail(PLIX_ERROR_MEMORY);
        }
        extraLeft_ = header_.extra;
        phase_ = Phase::kExtra;
    }
    if (phase_ == Phase::kExtra) {
        const size_t skip = std::min(size, extraLeft_);
        extraLeft_ -= skip;
        data += skip;
        size -= skip;
        if (extraLeft_ == 0) phase_ = Phase::kBody;
    }
    return PLIX_OK;
}

void StreamDecoder::KeepBody(const uint8_t *data, size_t size) {
    if (size == 0) return;
    // The filler of the classic reader: the byte at the last multiple of the
    // chunk size.
    const uint64_t last = (bodyBytes_ + size - 1) / kFillerSpacing * kFillerSpacing;
    if (last >= bodyBytes_) filler_ = data[last - bodyBytes_];
    bodyBytes_ += size;
    if (whole_ || !HasPixels()) return;
    // Bytes before the next one to decode are not needed again; they go
    // when they are the larger part, so each byte is moved once on average.
    const uint64_t dead = std::min<uint64_t>(bitPos_ / 8 - base_, kept_.size());
    if (dead > 0 && dead >= kept_.size() / 2) {
        kept_.erase(kept_.begin(), kept_.begin() + static_cast<ptrdiff_t>(dead));
        base_ += dead;
    }
    kept_.insert(kept_.end(), data, data + size);
}

int StreamDecoder::Push(const uint8_t *data, size_t size) {
    if (phase_ == Phase::kFailed) return error_;
    if (finished_ || (!data && size > 0)) return PLIX_ERROR_ARGUMENT;
    const int r = TakeHeader(data, size);
    if (r != PLIX_OK) return r;
    if (phase_ == Phase::kBody) {
        try {
            KeepBody(data, size);
        } catch (const std::bad_alloc &) {
            return Fail(PLIX_ERROR_MEMORY);
        }
    }
    return PLIX_OK;
}

int StreamDecoder::PushWhole(const uint8_t *data, size_t size) {
    if (phase_ != Phase::kHeader || headBytes_ > 0 || finished_) return PLIX_ERROR_ARGUMENT;
    const int r = TakeHeader(data, size);
    if (r != PLIX_OK) return r;
    whole_ = data;
    KeepBody(data, phase_ == Phase::kBody ? size : 0);
    return Finish();
}

int StreamDecoder::Finish() {
    if (phase_ == Phase::kFailed) return error_;
    finished_ = true;
    if (phase_ == Phase::kHeader) return Fail(PLIX_ERROR_NOT_PLIX);
    return PLIX_OK;
}

int StreamDecoder::Info(plix_info *info) const {
    if (!info) return PLIX_ERROR_ARGUMENT;
    if (phase_ == Phase::kHeader) return PLIX_NEED_DATA;
    // A header that was refused has no facts to give.
    if (phase_ == Phase::kFailed && error_ == PLIX_ERROR_NOT_PLIX) return error_;
    FillInfo(header_, info);
    info->blocks_present = blocksPresent_;
    return phase_ == Phase::kFailed ? error_ : PLIX_OK;
}

bool StreamDecoder::StripReady() const {
    if (finished_) return true;
    if (phase_ != Phase::kBody) return false;
    const uint64_t next = bitPos_ / 8;
    return bodyBytes_ > next && bodyBytes_ - next >= tryAt_;
}

bool StreamDecoder::DecodeStrip() {
    // The reader starts at the byte of the next bit, over what is kept of the
    // body, and delivers the filler past it.
    const uint64_t start = bitPos_ / 8;
    const int skip = static_cast<int>(bitPos_ % 8);
    const uint8_t *body = whole_ ? whole_ : kept_.data();
    const uint64_t from = whole_ ? start : start - base_;
    const uint64_t have = bodyBytes_ > start ? bodyBytes_ - start : 0;
    auto open = [&] {
        reader_.OpenRegion(have > 0 ? body + from : nullptr, static_cast<size_t>(have), filler_);
        for (int i = 0; i < skip; ++i) reader_.ReadBit();
    };
    const StripDecoder::Mark mark = strips_->Here();
    open();
    // Until the input is finished, a try stops as soon as it runs out.
    const bool ended = strips_->Next(reader_, strip_.get(), stripRowBytes_, false,
                                     finished_ ? UINT64_MAX : have * 8);
    const uint64_t taken = reader_.BitsTaken();
    const uint64_t blocks = strips_->BlocksPerStrip();
    if (!ended || (!finished_ && have * 8 < taken)) {
        strips_->Rewind(mark);
        reader_.Close();
        const uint64_t most = (blocks * kMaxBlockBits + 7) / 8 + 1;
        tryAt_ = std::min(std::max(have * 2, have + 64), most);
        return false;
    }
    tryAt_ = 1;
    if (!truncated_ && have * 8 < taken) {
        // The data ends inside this strip: count its whole blocks again,
        // block by block, as the file's reader would meet them.
        truncated_ = true;
        open();
        blocksPresent_ += CountBlocksWithin(reader_, blocks, mark.predictors, have * 8);
    } else if (!truncated_) {
        blocksPresent_ += blocks;
    }
    reader_.Close();
    bitPos_ = start * 8 + taken;
    stripRows_ = static_cast<uint32_t>(std::min<int64_t>(8, header_.height - mark.top));
    handed_ = 0;
    current_ = strip_.get();
    ++stripsDone_;
    return true;
}

StreamDecoder::Ahead StreamDecoder::DecodeAhead(int format, uint8_t *pixels, size_t stride,
                                                uint32_t room, bool fresh, uint32_t &rows) {
    rows = 0;
    if (phase_ != Phase::kBody || !HasPixels() || stripsDone_ == 0) return Ahead::kNo;
    const int64_t first = strips_->Top() / 8;
    const int64_t left = header_.BlockRows() - first;
    const uint64_t stripPixels = static_cast<uint64_t>(strips_->PaddedWidth()) * 8;
    // A megapixel at a time at least, which pays for a round of threads
    // many times over, and up to two. Straight into the caller's rows where
    // they take enough strips, otherwise into the window.
    const uint64_t least = static_cast<uint64_t>(std::max<int64_t>(aheadPixels_, 1));
    const int64_t want = std::max<int64_t>(2, static_cast<int64_t>((2 * least + stripPixels - 1) / stripPixels));
    const int64_t height = header_.height;
    const int64_t fitting = room >= height - first * 8 ? left : room / 8;
    const auto worth = [&](int64_t n) { return n >= 2 && static_cast<uint64_t>(n) * stripPixels >= least; };
    int64_t strips = std::min(want, left);
    if (!worth(strips)) return Ahead::kNo;
    const bool direct = worth(std::min(strips, fitting));
    if (direct) strips = std::min(strips, fitting);
    else if (!fresh) return Ahead::kRoom;
    const uint64_t expect = bitPos_ / 8 / stripsDone_ * static_cast<uint64_t>(strips);
    if (expect < 2 * aheadPartBytes_) return Ahead::kNo;
    // The strips are tried once twice the bytes they are expected to take
    // are in; those that ended within them are taken (nothing else is
    // written), and where none did, twice the bytes are waited for.
    const uint64_t most = static_cast<uint64_t>(strips) * strips_->BlocksPerStrip() * kMaxBlockBits / 8 + 1;
    const uint64_t start = bitPos_ / 8;
    const uint64_t have = bodyBytes_ > start ? bodyBytes_ - start : 0;
    const uint64_t need = std::min(most, std::max(aheadWait_, 2 * expect + 4096));
    if (!finished_ && have < need) {
        // More than a few times what was expected: strip by strip instead.
        if (have > kMostAheadBytes) return Ahead::kNo;
        return Ahead::kWait;
    }
    if (!direct && !window_) {
        window_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(want) * 8 * stripRowBytes_]);
        if (!window_) return Ahead::kNo;
    }
    // Past the data (the filler decodes on), there is no byte to point at.
    const uint8_t *body = have == 0 ? nullptr : whole_ ? whole_ + start : kept_.data() + (start - base_);
    const StripDecoder::Mark mark = strips_->Here();
    BandStart from;
    from.bit = bitPos_ % 8;
    for (int c = 0; c < 3; ++c) from.predictors[c] = mark.predictors[c];
    from.strip = first;
    from.strips = strips;
    from.expectBytes = expect;
    from.rows = direct ? nullptr : window_.get();
    from.partial = !finished_;
    const uint32_t width = static_cast<uint32_t>(header_.width);
    BandOutcome outcome;
    const bool done = DecodeInBands(
        header_, Kernels(), body, static_cast<size_t>(have), filler_, threads_, aheadPixels_,
        aheadPartBytes_,
        [&](int64_t strip, const uint8_t *src, size_t rowBytes) {
            if (!direct) return;
            for (int64_t r = 0; r < 8 && strip * 8 + r < height; ++r)
                PackRow(src + static_cast<size_t>(r) * rowBytes, format,
                        pixels + static_cast<size_t>((strip - first) * 8 + r) * stride, width);
        },
        outcome, from);
    if (!done) return Ahead::kNo;
    if (outcome.strips == 0) {
        aheadWait_ = std::min(most, have * 2);
        return Ahead::kWait;
    }
    aheadWait_ = 0;
    strips = outcome.strips;
    bitPos_ = start * 8 + outcome.endBit;
    strips_->Rewind({(first + strips) * 8,
                     {outcome.endPredictors[0], outcome.endPredictors[1], outcome.endPredictors[2]}});
    tryAt_ = 1;
    const uint64_t perStrip = strips_->BlocksPerStrip();
    aheadCut_ = outcome.truncated ? static_cast<int64_t>(outcome.blocksPresent / perStrip) : -1;
    aheadCutBlocks_ = outcome.blocksPresent % perStrip;
    aheadFirst_ = first;
    aheadStrips_ = strips;
    nextAhead_ = 0;
    stripsDone_ += static_cast<uint64_t>(strips);
    stripsAhead_ += static_cast<uint64_t>(strips);
    if (direct) {
        while (nextAhead_ < aheadStrips_) CountAhead(nextAhead_++);
        stripRows_ = handed_ = 0;
        rows = static_cast<uint32_t>(std::min<int64_t>(strips * 8, height - first * 8));
    }
    return Ahead::kDone;
}

void StreamDecoder::NextAhead() {
    const int64_t i = nextAhead_++;
    CountAhead(i);
    current_ = window_.get() + static_cast<size_t>(i) * 8 * stripRowBytes_;
    stripRows_ = static_cast<uint32_t>(std::min<int64_t>(8, header_.height - (aheadFirst_ + i) * 8));
    handed_ = 0;
}

void StreamDecoder::CountAhead(int64_t i) {
    // As the strip by strip decoder counts them.
    if (!truncated_) {
        if (i == aheadCut_) {
            truncated_ = true;
            blocksPresent_ += aheadCutBlocks_;
        } else {
            blocksPresent_ += strips_->BlocksPerStrip();
        }
    }
}

int StreamDecoder::ReadRows(int format, uint8_t *pixels, size_t stride, uint32_t maxRows,
                            uint32_t *rows) {
    if (rows) *rows = 0;
    if (phase_ == Phase::kFailed) return error_;
    const size_t bytes = BytesPerPixel(format);
    if (!rows || bytes == 0) return PLIX_ERROR_ARGUMENT;
    if (phase_ == Phase::kHeader)
        return pixels || maxRows == 0 ? PLIX_NEED_DATA : PLIX_ERROR_ARGUMENT;
    // A picture without pixels has no rows to write, and needs no buffer.
    if (HasPixels() && maxRows > 0 &&
        (!pixels || stride < bytes * static_cast<size_t>(header_.width)))
        return PLIX_ERROR_ARGUMENT;
    const uint64_t height = HasPixels() ? static_cast<uint64_t>(header_.height) : 0;
    uint32_t written = 0;
    while (written < maxRows) {
        if (handed_ < stripRows_) {
            const uint32_t n = std::min(maxRows - written, stripRows_ - handed_);
            for (uint32_t i = 0; i < n; ++i)
                PackRow(current_ + static_cast<size_t>(handed_ + i) * stripRowBytes_, format,
                        pixels + static_cast<size_t>(written + i) * stride,
                        static_cast<uint32_t>(header_.width));
            handed_ += n;
            written += n;
            rowsOut_ += n;
        } else if (rowsOut_ == height) {
            break;
        } else if (nextAhead_ < aheadStrips_) {
            NextAhead();
        } else {
            uint32_t n = 0;
            const Ahead ahead =
                threads_ > 1 ? DecodeAhead(format, pixels + static_cast<size_t>(written) * stride, stride,
                                           maxRows - written, written == 0, n)
                             : Ahead::kNo;
            written += n;
            rowsOut_ += n;
            if (ahead == Ahead::kWait || ahead == Ahead::kRoom ||
                (ahead == Ahead::kNo && (!StripReady() || !DecodeStrip())))
                break;
        }
    }
    *rows = written;
    if (written == 0 && rowsOut_ < height) return PLIX_NEED_DATA;
    return Result();
}

bool StreamDecoder::ReadAllInBands(int format, uint8_t *pixels, size_t stride, unsigned threads,
                                   int64_t minPixels, size_t minPartBytes, int64_t firstStrips,
                                   int64_t tailFrom, uint64_t mostKept) {
    if (threads < 2 || !whole_ || phase_ != Phase::kBody || !HasPixels() || rowsOut_ > 0 ||
        BytesPerPixel(format) == 0 || !pixels)
        return false;
    const uint32_t width = static_cast<uint32_t>(header_.width);
    const int64_t height = header_.height;
    BandOutcome outcome;
    const bool done = DecodeInBands(
        header_, Kernels(), whole_, static_cast<size_t>(bodyBytes_), filler_, threads, minPixels, minPartBytes,
        [&](int64_t strip, const uint8_t *rows, size_t rowBytes) {
            for (int64_t r = 0; r < 8 && strip * 8 + r < height; ++r)
                PackRow(rows + static_cast<size_t>(r) * rowBytes, format,
                        pixels + static_cast<size_t>(strip * 8 + r) * stride, width);
        },
        outcome, BandStart{}, firstStrips, tailFrom, mostKept);
    if (!done) return false;
    // Where one strip at a time would have ended.
    truncated_ = outcome.truncated;
    blocksPresent_ = outcome.blocksPresent;
    rowsOut_ = static_cast<uint64_t>(height);
    bitPos_ = bodyBytes_ * 8;
    stripRows_ = handed_ = 0;
    return true;
}

}  // namespace plix::api
