#include "streams.h"

#include <algorithm>
#include <cstring>
#include <new>


namespace plix {

StreamReader::StreamReader() = default;

void StreamReader::ResetState() {
    memoryMode_ = false;
    fixedFiller_ = false;
    memBlock_ = nullptr;
    memSize_ = 0;
    memPos_ = 0;
    cursor_.cur = cursor_.end = nullptr;
    exhausted_ = false;
    cursor_.bits = 0;
    cursor_.count = 0;
    lastChunkSize_ = 0;
    chunksFetched_ = 0;
    regionStart_ = nullptr;
    passedBytes_ = 0;
    dataBytes_ = 0;
    // Each source starts from filler 0, so that a file with no body decodes the
    // same whatever this reader read before.
    filler_ = 0;
}

bool StreamReader::OpenFile(const char *path) {
    Close();
    // Only files need the chunk buffer: memory is read where it lies.
    if (!buffer_) buffer_.reset(new (std::nothrow) uint8_t[kStreamChunk]);
    return buffer_ && file_.Open(path);
}

bool StreamReader::OpenMemory(const void *block, int32_t size) {
    if (!block || size < 0) return false;
    Close();
    memoryMode_ = true;
    memBlock_ = static_cast<const uint8_t *>(block);
    memSize_ = size;
    memPos_ = 0;
    return true;
}

void StreamReader::OpenRegion(const uint8_t *block, size_t size, uint8_t filler) {
    Close();
    memoryMode_ = true;
    fixedFiller_ = true;
    memBlock_ = block;
    memSize_ = block ? static_cast<int64_t>(size) : 0;
    filler_ = filler;
}

void StreamReader::Close() {
    file_.Close();
    ResetState();
}

int32_t StreamReader::ReadBlock(void *dest, int32_t n) {
    if (n <= 0 || !dest) return 0;
    if (memoryMode_) {
        if (memPos_ < 0 || memPos_ >= memSize_) return 0;
        int64_t m = std::min<int64_t>(n, memSize_ - memPos_);
        std::memcpy(dest, memBlock_ + memPos_, static_cast<size_t>(m));
        memPos_ += m;
        return static_cast<int32_t>(m);
    }
    return static_cast<int32_t>(file_.Read(dest, static_cast<size_t>(n)));
}

int64_t StreamReader::Seek(int32_t distance, int origin) {
    // Filler bytes handed out so far say nothing about the new position.
    if (exhausted_) cursor_.cur = cursor_.end = nullptr;
    exhausted_ = false;
    regionStart_ = cursor_.cur;
    passedBytes_ = 0;
    dataBytes_ = 0;
    if (memoryMode_) {
        switch (origin) {
            case 0:
                memPos_ = distance;
                break;
            case 1:
                memPos_ += distance;
                break;
            case 2:
                memPos_ = memSize_ + distance;
                break;
            default:
                break;
        }
        return memPos_;
    }
    return file_.Seek(distance, origin);
}

void StreamReader::NextChunk() {
    // Only called once the current region is used up.
    passedBytes_ += static_cast<uint64_t>(cursor_.end - regionStart_);
    size_t count = 0;
    if (!exhausted_) {
        if (memoryMode_) {
            // A position outside the block delivers nothing.
            if (memPos_ >= 0 && memPos_ < memSize_) {
                // A region's filler does not depend on its chunks: take it whole.
                count = static_cast<size_t>(
                    fixedFiller_ ? memSize_ - memPos_
                                 : std::min<int64_t>(kStreamChunk, memSize_ - memPos_));
                cursor_.cur = memBlock_ + memPos_;
                memPos_ += static_cast<int64_t>(count);
            }
        } else if (file_.IsOpen()) {
            count = file_.Read(buffer_.get(), kStreamChunk);
            cursor_.cur = buffer_.get();
        }
        ++chunksFetched_;
        lastChunkSize_ = static_cast<uint32_t>(count);
    }
    if (count == 0) {
        exhausted_ = true;
        std::memset(fillerBlock_, filler_, sizeof fillerBlock_);
        cursor_.cur = regionStart_ = fillerBlock_;
        cursor_.end = fillerBlock_ + sizeof fillerBlock_;
        return;
    }
    regionStart_ = cursor_.cur;
    dataBytes_ += count;
    cursor_.end = cursor_.cur + count;
    if (!fixedFiller_) filler_ = cursor_.cur[0];
}

uint8_t StreamReader::ReadByte() {
    if (cursor_.cur == cursor_.end) NextChunk();
    return *cursor_.cur++;
}

void StreamReader::RefillSlow() {
    while (cursor_.count <= 56) {
        cursor_.bits |= static_cast<uint64_t>(ReadByte()) << (56 - cursor_.count);
        cursor_.count += 8;
    }
}

int32_t StreamReader::ReadSigned(int32_t n) {
    if (n <= 0) return 0;
    // Values wider than 32 bits keep their low 32 bits, as a 32-bit register would.
    uint32_t v = 0;
    for (int32_t left = n; left > 0;) {
        int take = left > 24 ? 24 : static_cast<int>(left);
        Refill();
        uint32_t part = Peek(take);
        Skip(take);
        v = static_cast<uint32_t>((static_cast<uint64_t>(v) << take) | part);
        left -= take;
    }
    bool top = n <= 32 && ((v >> (n - 1)) & 1u);
    if (top) return static_cast<int32_t>(v);
    // v + 1 - 2^n, modulo 2^32
    uint32_t pow = n >= 32 ? 0u : (1u << n);
    return static_cast<int32_t>(v + 1u - pow);
}

StreamWriter::StreamWriter() : buffer_(new uint8_t[kStreamChunk]) {}

void StreamWriter::Reset(std::string *memory, ByteSink *sink) {
    if (file_.IsOpen()) file_.Abort();
    memory_ = memory;
    sink_ = sink;
    failed_ = false;
    pos_ = 0;
    acc_ = 0;
    accBits_ = 0;
    handedOut_ = 0;
}

bool StreamWriter::OpenFile(const char *path) {
    Reset(nullptr, nullptr);
    return file_.Create(path);
}

bool StreamWriter::OpenMemory(std::string *out) {
    if (!out) return false;
    Reset(out, nullptr);
    return true;
}

bool StreamWriter::OpenSink(ByteSink *sink) {
    if (!sink) return false;
    Reset(nullptr, sink);
    return true;
}

bool StreamWriter::Close() {
    bool ok = !failed_;
    if (file_.IsOpen()) {
        if (failed_)
            file_.Abort();
        else
            ok = file_.Commit();
    }
    memory_ = nullptr;
    sink_ = nullptr;
    pos_ = 0;
    acc_ = 0;
    accBits_ = 0;
    return ok;
}

void StreamWriter::Output(const void *src, size_t n) {
    if (n == 0) return;
    handedOut_ += n;
    if (memory_) {
        memory_->append(static_cast<const char *>(src), n);
        return;
    }
    if (sink_) {
        if (!failed_ && !sink_->Put(src, n)) failed_ = true;
        return;
    }
    if (!file_.IsOpen() || !file_.Write(src, n)) failed_ = true;
}

void StreamWriter::Drain() {
    Output(buffer_.get(), pos_);
    pos_ = 0;
}

void StreamWriter::Flush() {
    while (accBits_ >= 8) {
        accBits_ -= 8;
        AppendByte(static_cast<uint8_t>(acc_ >> accBits_));
    }
    if (accBits_ > 0) AppendByte(static_cast<uint8_t>(acc_ << (8 - accBits_)));
    acc_ = 0;
    accBits_ = 0;
    if (pos_ > 0) Drain();
}

void StreamWriter::Expect(uint64_t n) {
    if (n > SIZE_MAX / 2) return;
    if (memory_) memory_->reserve(memory_->size() + pos_ + static_cast<size_t>(n));
    if (sink_) sink_->Expect(static_cast<size_t>(n));
}

void StreamWriter::WriteBitString(const uint8_t *data, uint64_t bits) {
    // Eight bytes a step while the chunk has room for them, shifted by the
    // bits pending before them; the rest (and the steps across the chunk's
    // end) through WriteBits.
    while (bits >= 64) {
        ByteCursor c = TakeBytes();
        const uint64_t words = std::min<uint64_t>(bits / 64, static_cast<uint64_t>(c.limit - c.out) / 8);
        for (uint64_t i = 0; i < words; ++i) {
            const uint64_t w = platform::LoadBe64(data);
            platform::StoreBe64(c.out, c.bits | (w >> c.count));
            c.bits = c.count > 0 ? w << (64 - c.count) : 0;
            c.out += 8;
            data += 8;
        }
        bits -= words * 64;
        PutBytes(c);
        if (words == 0) {
            WriteBits(static_cast<uint32_t>(platform::LoadBe64(data) >> 32), 32);
            data += 4;
            bits -= 32;
        }
    }
    for (; bits >= 8; bits -= 8) WriteBits(*data++, 8);
    if (bits > 0) WriteBits(static_cast<uint32_t>(*data >> (8 - bits)), static_cast<int>(bits));
}

void StreamWriter::WriteBlock(const void *src, int32_t n) {
    if (n <= 0 || !src) return;
    Output(src, static_cast<size_t>(n));
}

}  // namespace plix
