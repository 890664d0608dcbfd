// Byte and bit streams of the codec: a reader over a file or a memory block and
// a writer into a file (or, inside the library, into memory).
//
// Bits run most significant first. Data moves through 64 KiB chunks; past the
// end of the data the reader keeps delivering one filler byte: the first byte
// of the last chunk it fetched from this source (0 when it fetched none). That rule makes a
// truncated file decode to the same pixels every time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/byte_order.h"
#include "platform/file.h"

namespace plix {

inline constexpr size_t kStreamChunk = 65536;

class StreamReader {
public:
    StreamReader();
    StreamReader(const StreamReader &) = delete;
    StreamReader &operator=(const StreamReader &) = delete;

    bool OpenFile(const char *path);
    // Reads from a block the caller keeps alive until Close. A null block or a
    // negative size fails.
    bool OpenMemory(const void *block, int32_t size);
    // Reads size bytes at block (null only when size is 0), then filler
    // bytes: a part of a longer stream, whose filler the caller knows.
    void OpenRegion(const uint8_t *block, size_t size, uint8_t filler);
    void Close();
    bool IsOpen() const { return file_.IsOpen() || memoryMode_; }

    // Unbuffered transfer; only meaningful before the first bit is read.
    int32_t ReadBlock(void *dest, int32_t n);
    // origin 0 start, 1 current position, 2 end; returns the new position or -1.
    // Only meaningful before the first bit is read.
    int64_t Seek(int32_t distance, int origin);

    // The next byte of the source, or the filler byte past its end.
    uint8_t ReadByte();
    // 0 or 1.
    uint32_t ReadBit() {
        if (cursor_.count < 1) Refill();
        uint32_t b = static_cast<uint32_t>(cursor_.bits >> 63);
        cursor_.bits <<= 1;
        cursor_.count -= 1;
        return b;
    }
    // n bits as a JPEG-style signed value (category n); 0 for n <= 0.
    int32_t ReadSigned(int32_t n);

    // The bit buffer with the unread rest of the current chunk. The decoder
    // takes a copy into registers for a run of blocks (TakeBits) and hands it
    // back (PutBits); in between, only the copy may be used. The bits after
    // the first count are zero or the upcoming ones.
    struct BitCursor {
        uint64_t bits;  // left-aligned: bit 63 is the next bit
        int count;
        const uint8_t *cur;
        const uint8_t *end;

        bool Roomy() const { return end - cur >= 8; }
        // At least 57 bits buffered afterwards; only with count below 64 and
        // eight bytes left in the chunk. ORing a whole word in is exact, as
        // the bits past count hold the upcoming bits or zeros.
        void Load() {
            bits |= platform::LoadBe64(cur) >> count;
            cur += (63 - count) >> 3;
            count |= 56;
        }
    };

    // After Refill at least 57 bits are buffered; Peek and Skip must stay
    // within what is buffered. Near the end of a chunk or of the data this
    // takes the slow path, which also supplies the filler past the end.
    void Refill() {
        if (cursor_.count > 56) return;
        if (cursor_.Roomy()) {
            cursor_.Load();
            return;
        }
        RefillSlow();
    }
    int BitCount() const { return cursor_.count; }
    // Top n bits (1..32) of the buffer.
    uint32_t Peek(int n) const { return static_cast<uint32_t>(cursor_.bits >> (64 - n)); }
    void Skip(int n) {
        cursor_.bits <<= n;
        cursor_.count -= n;
    }
    BitCursor TakeBits() const { return cursor_; }
    void PutBits(const BitCursor &c) {
        cursor_.bits = c.bits;
        cursor_.count = c.count;
        cursor_.cur = c.cur;
    }

    // Bits taken from the stream so far, filler included, and bytes of data
    // the source delivered (both since the last open or seek): a decode read
    // past the data when the first exceeds 8 times the second.
    uint64_t BitsTaken() const {
        return (passedBytes_ + static_cast<uint64_t>(cursor_.cur - regionStart_)) * 8 -
               static_cast<uint64_t>(cursor_.count);
    }
    uint64_t DataBytes() const { return dataBytes_; }

    // Chunks fetched from the source so far (for tests of the transfer sizes).
    uint32_t LastChunkSize() const { return lastChunkSize_; }
    uint64_t ChunksFetched() const { return chunksFetched_; }

private:
    void RefillSlow();
    void NextChunk();
    void ResetState();

    platform::InputFile file_;
    bool memoryMode_ = false;
    bool fixedFiller_ = false;  // a region: one chunk, the caller's filler
    const uint8_t *memBlock_ = nullptr;
    int64_t memSize_ = 0;
    int64_t memPos_ = 0;

    std::unique_ptr<uint8_t[]> buffer_;  // chunk storage in file mode, made by OpenFile
    BitCursor cursor_ = {0, 0, nullptr, nullptr};
    uint8_t filler_ = 0;  // first byte of the last non-empty chunk of this source
    // Past the end the source is not asked again (a truncated file would
    // otherwise cost a system call per byte); the reader runs over a block of
    // filler bytes instead, so the fast refill path keeps working.
    bool exhausted_ = false;
    uint8_t fillerBlock_[64] = {};
    uint32_t lastChunkSize_ = 0;
    uint64_t chunksFetched_ = 0;
    // Position accounting for BitsTaken, updated per chunk: bytes of the
    // regions (chunks or filler blocks) before the current one, and where the
    // current one began.
    const uint8_t *regionStart_ = nullptr;
    uint64_t passedBytes_ = 0;
    uint64_t dataBytes_ = 0;
};

// Where a writer's bytes go when not into a file or a string.
class ByteSink {
public:
    // False stops the output: the writer fails from then on.
    virtual bool Put(const void *data, size_t n) = 0;
    // About n more bytes follow: room may be made for them at once.
    virtual void Expect(size_t n) { (void)n; }
    // n bytes the writer may store straight after what was put (null where
    // the sink has no such room); Took(n) then counts them as put.
    virtual uint8_t *Room(size_t n) {
        (void)n;
        return nullptr;
    }
    virtual void Took(size_t n) { (void)n; }

protected:
    ~ByteSink() = default;
};

class StreamWriter {
public:
    StreamWriter();
    StreamWriter(const StreamWriter &) = delete;
    StreamWriter &operator=(const StreamWriter &) = delete;

    // Appends everything to out instead of a file (for in-memory coding).
    bool OpenMemory(std::string *out);
    // Hands everything to sink, in pieces of up to one chunk.
    bool OpenSink(ByteSink *sink);
    // Creates or replaces the file; an existing file is replaced only by Close
    // after every write succeeded.
    bool OpenFile(const char *path);
    // Finishes the output. False when any write failed since opening; a file
    // is then not replaced. Does not flush.
    bool Close();
    bool IsOpen() const { return file_.IsOpen() || memory_ != nullptr || sink_ != nullptr; }
    bool Failed() const { return failed_; }

    // The low n bits of value, most significant first; n from 1 to 32.
    void WriteBits(uint32_t value, int n) {
        if (n <= 0) return;
        uint64_t mask = (uint64_t{1} << n) - 1;
        acc_ = (acc_ << n) | (value & mask);
        accBits_ += n;
        if (accBits_ >= 32) EmitWord();
    }
    // Lets a hot coding loop store straight into the chunk buffer: TakeBytes
    // moves the whole bytes of the accumulator into the buffer and returns
    // the fewer than 8 bits left, with the free room; PutBytes takes back the
    // new end and the bits left. In between, only the copy may be used, and
    // nothing may be stored at or past limit.
    struct ByteCursor {
        uint64_t bits;  // pending bits, left-aligned; the rest are 0
        int count;      // below 8
        uint8_t *out;
        uint8_t *limit;
    };
    ByteCursor TakeBytes() {
        while (accBits_ >= 8) {
            accBits_ -= 8;
            AppendByte(static_cast<uint8_t>(acc_ >> accBits_));
        }
        const uint64_t bits = accBits_ > 0 ? acc_ << (64 - accBits_) : 0;
        return {bits, accBits_, buffer_.get() + pos_, buffer_.get() + kStreamChunk};
    }
    void PutBytes(const ByteCursor &c) {
        pos_ = static_cast<size_t>(c.out - buffer_.get());
        acc_ = c.count > 0 ? c.bits >> (64 - c.count) : 0;
        accBits_ = c.count;
        if (pos_ == kStreamChunk) Drain();
    }

    // Completes the last byte with 0 bits and hands everything to the output.
    void Flush();
    // About n more bytes follow (a hint for the output's room).
    void Expect(uint64_t n);
    // Bits written since opening, the pending ones included.
    uint64_t BitsWritten() const {
        return (handedOut_ + pos_) * 8 + static_cast<uint64_t>(accBits_);
    }
    // The first bits bits of data (most significant first), wherever the
    // writer stands in its byte: how bit strings coded apart are joined.
    void WriteBitString(const uint8_t *data, uint64_t bits);
    // Unbuffered transfer; only while nothing is buffered.
    void WriteBlock(const void *src, int32_t n);

    uint64_t BytesHandedOut() const { return handedOut_; }

private:
    void EmitWord() {
        accBits_ -= 32;
        uint32_t w = static_cast<uint32_t>(acc_ >> accBits_);
        acc_ &= (uint64_t{1} << accBits_) - 1;
        if (pos_ + 4 <= kStreamChunk) {
            buffer_[pos_] = static_cast<uint8_t>(w >> 24);
            buffer_[pos_ + 1] = static_cast<uint8_t>(w >> 16);
            buffer_[pos_ + 2] = static_cast<uint8_t>(w >> 8);
            buffer_[pos_ + 3] = static_cast<uint8_t>(w);
            pos_ += 4;
            if (pos_ == kStreamChunk) Drain();
        } else {
            for (int s = 24; s >= 0; s -= 8) AppendByte(static_cast<uint8_t>(w >> s));
        }
    }
    void AppendByte(uint8_t b) {
        buffer_[pos_++] = b;
        if (pos_ == kStreamChunk) Drain();
    }
    void Drain();                     // hands the buffered bytes to the output
    void Reset(std::string *memory, ByteSink *sink);  // closes what is open, empties the buffer
    void Output(const void *src, size_t n);

    platform::OutputFile file_;
    std::string *memory_ = nullptr;
    ByteSink *sink_ = nullptr;
    bool failed_ = false;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t pos_ = 0;
    uint64_t acc_ = 0;
    int accBits_ = 0;
    uint64_t handedOut_ = 0;
};

}  // namespace plix
