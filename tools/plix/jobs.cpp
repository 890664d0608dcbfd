#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "pictures.h"
#include "plix/codec.h"
#include "platform/tool_files.h"
#include "tool.h"

namespace plix::tool {

namespace plat = plix::platform;

namespace {

constexpr size_t kHeaderBytes = 16;

const char *MatrixName(int m) {
    static const char *names[] = {"plix", "jpeg", "cg"};
    return m >= 0 && m < 3 ? names[m] : "unknown";
}

int MatrixNumber(const std::string &name) {
    return name == "jpeg" ? 1 : name == "cg" ? 2 : 0;
}

const char *Extension(OutFormat f) {
    switch (f) {
        case OutFormat::Png:
            return ".png";
        case OutFormat::Bmp:
            return ".bmp";
        case OutFormat::Ppm:
            return ".ppm";
        case OutFormat::Plix:
            return ".plx";
    }
    return "";
}

OutFormat FormatOfName(const std::string &name) {
    std::string ext;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && name.find('/', dot) == std::string::npos)
        ext = name.substr(dot + 1);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "bmp") return OutFormat::Bmp;
    if (ext == "ppm" || ext == "pnm") return OutFormat::Ppm;
    return OutFormat::Png;
}

std::string BaseName(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What the library says of a PLIX file's header; empty when it decodes.
ReadResult CheckPlix(const std::string &data, plix_info &info) {
    ReadResult r;
    if (DetectKind(data) != FileKind::Plix || data.size() < kHeaderBytes)
        r.reason = "not a PLIX file";
    else if (plix_read_info(data.data(), data.size(), &info) != PLIX_OK)
        r.reason = "not a PLIX file the decoder knows: unknown matrix set or negative size";
    return r;
}

std::string Blocks(const plix_info &info) {
    return "data ends after " + std::to_string(info.blocks_present) + " of " +
           std::to_string(info.blocks) + " blocks; the rest is filler";
}

// Pieces read from the input at a time.
constexpr size_t kInputChunk = size_t{1} << 20;
// Rows handed on at a time: about this many bytes, a whole number of strips.
constexpr size_t kBandBytes = size_t{4} << 20;

uint32_t BandRows(uint64_t width, uint64_t height) {
    const uint64_t rows =
        std::max<uint64_t>(8, kBandBytes / (std::max<uint64_t>(width, 1) * 3) / 8 * 8);
    return static_cast<uint32_t>(std::min<uint64_t>(rows, std::max<uint64_t>(height, 1)));
}

// Rows given to the encoder at a time. On threads it codes the strips of a
// call straight from the rows when the call brings as many as it would keep
// otherwise (16 strips a thread, within 32 MiB of strips): fewer it copies
// into strips of its own first.
uint32_t EncodeBandRows(uint64_t width, uint64_t height, unsigned threads) {
    if (threads < 2) return BandRows(width, height);
    const uint64_t stripBytes = (std::max<uint64_t>(width, 1) + 7) / 8 * 8 * 32;
    const uint64_t strips =
        std::min<uint64_t>(uint64_t{16} * threads, std::max<uint64_t>(uint64_t{2} * threads, (uint64_t{32} << 20) / stripBytes));
    return static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(strips * 8, BandRows(width, height)),
                                                    std::max<uint64_t>(height, 1)));
}

// The input as a source of bytes: a file that can seek is read at its own
// place; a pipe first gives back the bytes read to tell its kind.
class InputSource final : public ByteSource {
public:
    InputSource(plat::InputStream &in, std::string head) : in_(in), head_(std::move(head)) {}

    std::string Read(void *data, size_t size, size_t &got) override {
        got = 0;
        std::string reason;
        if (in_.Seekable()) {
            if (!in_.ReadAt(pos_, data, size, got, reason)) return reason;
            pos_ += got;
            return {};
        }
        auto *d = static_cast<char *>(data);
        const size_t fromHead = std::min(size, head_.size() - headPos_);
        if (fromHead) std::memcpy(d, head_.data() + headPos_, fromHead);
        headPos_ += fromHead;
        got = fromHead;
        while (got < size) {
            size_t n = 0;
            if (!in_.Read(d + got, size - got, n, reason)) return reason;
            if (n == 0) break;
            got += n;
        }
        return {};
    }
    int64_t Size() const override { return in_.Size(); }
    std::string ReadAt(uint64_t offset, void *data, size_t size, size_t &got) override {
        std::string reason;
        if (!in_.ReadAt(offset, data, size, got, reason)) return reason;
        return {};
    }

private:
    plat::InputStream &in_;
    std::string head_;
    size_t headPos_ = 0;
    uint64_t pos_ = 0;
};

// Where a job's output goes: a pending file beside the final name, or
// straight into standard output or a device. A writer that must seek, writing
// to one of the latter, goes through a temporary file that is copied there
// at the end.
class JobOutput final : public ByteSink {
public:
    // what names the file that could not be made.
    bool Open(const Job &job, bool needsSeeking, std::string &what, std::string &reason) {
        direct_ = job.output == "-" || plat::KindOfPath(job.output) == plat::PathKind::Other;
        what = job.output == "-" ? "standard output" : job.output;
        if (direct_) {
            if (!directOut_.Open(job.output, reason)) return false;
            if (!needsSeeking) return true;
            spooled_ = true;
            if (pending_.Create("", reason)) return true;
            what = "a temporary file";
            return false;
        }
        return pending_.Create(job.output, reason);
    }

    std::string Write(const void *data, size_t size) override {
        if (used_ + size > kBuffer) {
            std::string reason = Flush();
            if (!reason.empty()) return reason;
            if (size >= kBuffer) return Send(data, size);
        }
        std::memcpy(buffer_.get() + used_, data, size);
        used_ += size;
        return {};
    }

    std::string WriteAt(uint64_t offset, const void *data, size_t size) override {
        std::string reason = Flush();
        if (reason.empty() && direct_ && !spooled_) reason = "cannot seek";
        if (reason.empty()) pending_.WriteAt(offset, data, size, reason);
        return reason;
    }

    // Puts the finished output in place. exists: the target appeared and
    // replace was not asked for.
    bool Commit(bool replace, bool &exists, std::string &reason) {
        exists = false;
        reason = Flush();
        if (!reason.empty()) return false;
        if (!direct_) return pending_.Commit(replace, exists, reason);
        if (spooled_ && !pending_.CopyInto(directOut_, reason)) return false;
        return directOut_.Close(reason);
    }

private:
    static constexpr size_t kBuffer = size_t{1} << 20;

    std::string Flush() {
        if (used_ == 0) return {};
        std::string reason = Send(buffer_.get(), used_);
        used_ = 0;
        return reason;
    }
    std::string Send(const void *data, size_t size) {
        std::string reason;
        if (direct_ && !spooled_)
            directOut_.Write(data, size, reason);
        else
            pending_.Write(data, size, reason);
        return reason;
    }

    bool direct_ = false, spooled_ = false;
    plat::PendingFile pending_;
    plat::DirectOutput directOut_;
    std::unique_ptr<char[]> buffer_{new char[kBuffer]};
    size_t used_ = 0;
};

// Reads up to n bytes from the input's start (fewer only at its end).
bool ReadHead(plat::InputStream &in, size_t n, std::string &head, std::string &reason) {
    head.assign(n, '\0');
    size_t have = 0;
    while (have < n) {
        size_t got = 0;
        if (!in.Read(&head[have], n - have, got, reason)) return false;
        if (got == 0) break;
        have += got;
    }
    head.resize(have);
    return true;
}

bool CommitOutput(const Settings &s, const Job &job, JobOutput &out, const std::string &what,
                  const Reporter &report) {
    const std::string shown = ShownName(job.input);
    bool exists = false;
    std::string reason;
    if (out.Commit(s.force, exists, reason)) return true;
    if (exists)
        report.Error(shown, job.output + " exists (use -f to replace it); skipped");
    else
        report.Error(shown, "cannot write " + what + ": " + reason);
    return false;
}

// Rows go from the decoder to the picture writer a band at a time, as the
// input's bytes come in.
bool Decode(const Settings &s, const Job &job, plat::InputStream &in, const Reporter &report,
            uint64_t &pixels) {
    const std::string shown = ShownName(job.input);
    std::string head, reason;
    if (!ReadHead(in, kHeaderBytes, head, reason)) {
        report.Error(shown, "cannot read: " + reason);
        return false;
    }
    plix_info info{};
    const ReadResult check = CheckPlix(head, info);
    if (!check.ok()) {
        report.Error(shown, check.reason);
        return false;
    }
    const plix_decode_options options{s.maxPixels, s.threads};
    std::unique_ptr<plix_decoder, void (*)(plix_decoder *)> decoder(plix_decoder_new(&options),
                                                                    plix_decoder_free);
    int r =
        decoder ? plix_decoder_push(decoder.get(), head.data(), head.size()) : PLIX_ERROR_MEMORY;
    const std::string size = std::to_string(info.width) + " x " + std::to_string(info.height);
    if (r == PLIX_ERROR_LIMIT) {
        report.Error(shown, TooLargeReason(info.width, info.height, s.maxPixels));
        return false;
    }
    if (r < 0) {
        report.Error(shown, r == PLIX_ERROR_MEMORY
                                ? "cannot decode: not enough memory"
                                : std::string("cannot decode: ") + plix_error_string(r));
        return false;
    }
    const FileKind kind = job.format == OutFormat::Png   ? FileKind::Png
                          : job.format == OutFormat::Bmp ? FileKind::Bmp
                                                         : FileKind::Ppm;
    std::unique_ptr<PictureWriter> writer =
        MakePictureWriter(kind, WriterOptions{s.pngCompression, s.threads});
    JobOutput out;
    std::string what;
    if (!out.Open(job, writer->NeedsSeeking(), what, reason)) {
        report.Error(shown, "cannot write " + what + ": " + reason);
        return false;
    }
    reason = writer->Begin(info.width, info.height, out);
    const uint32_t bandRows = BandRows(info.width, info.height);
    const size_t stride = size_t(info.width) * 3;
    std::vector<uint8_t> rows;
    if (reason.empty()) rows.resize(std::max<size_t>(stride * bandRows, 1));
    const plix_format format = writer->WantsBgr() ? PLIX_BGR : PLIX_RGB;
    std::unique_ptr<char[]> chunk;
    bool ended = false;
    std::string readError;
    while (reason.empty()) {
        uint32_t got = 0;
        r = plix_decoder_read_rows(decoder.get(), format, rows.data(), std::max<size_t>(stride, 1),
                                   bandRows, &got);
        if (r < 0) break;
        if (got > 0) {
            reason = writer->AddRows(rows.data(), stride, got);
            continue;
        }
        if (r != PLIX_NEED_DATA || ended) break;
        if (!chunk) chunk.reset(new char[kInputChunk]);
        size_t n = 0;
        if (!in.Read(chunk.get(), kInputChunk, n, readError)) break;
        if (n == 0) {
            ended = true;
            r = plix_decoder_finish(decoder.get());
        } else {
            r = plix_decoder_push(decoder.get(), chunk.get(), n);
        }
        if (r < 0) break;
    }
    if (!readError.empty()) {
        report.Error(shown, "cannot read: " + readError);
        return false;
    }
    if (r == PLIX_ERROR_MEMORY) {
        report.Error(shown, "cannot decode: not enough memory for " + size + " pixels");
        return false;
    }
    if (r < 0) {
        report.Error(shown, std::string("cannot decode: ") + plix_error_string(r));
        return false;
    }
    if (reason.empty()) reason = writer->Finish();
    if (!reason.empty()) {
        report.Error(shown, reason);
        return false;
    }
    pixels = uint64_t(info.width) * uint64_t(info.height);
    if (r == PLIX_TRUNCATED) {
        plix_decoder_info(decoder.get(), &info);
        report.Warning(shown, Blocks(info));
    }
    return CommitOutput(s, job, out, what, report);
}

// The encoder's bytes to the output; a failure's reason is kept for the message.
struct EncoderSink {
    JobOutput *out;
    std::string reason;
};

int WriteToOutput(void *user, const void *data, size_t size) {
    auto *sink = static_cast<EncoderSink *>(user);
    sink->reason = sink->out->Write(data, size);
    return sink->reason.empty() ? 0 : 1;
}

// Rows go from the picture reader to the encoder a band at a time, and its
// bytes straight to the output.
bool Encode(const Settings &s, const Job &job, plat::InputStream &in, const Reporter &report,
            uint64_t &pixels) {
    const std::string shown = ShownName(job.input);
    std::string head, reason;
    // Enough to tell the kind, and whether a BMP's rows are stored bottom-up.
    if (!ReadHead(in, 26, head, reason)) {
        report.Error(shown, "cannot read: " + reason);
        return false;
    }
    const FileKind kind = DetectKind(head);
    if (kind == FileKind::Plix || kind == FileKind::Unknown) {
        report.Error(shown, kind == FileKind::Plix ? "is a PLIX file already"
                                                   : "not a PNG, BMP or PPM file");
        return false;
    }
    // Rows stored bottom-up are read from the end: a pipe goes to a
    // temporary file first.
    if (kind == FileKind::Bmp && BmpIsBottomUp(head) && !in.Seekable()) {
        if (!in.Spool(head.data(), head.size(), reason)) {
            report.Error(shown, "cannot copy the input to a temporary file: " + reason);
            return false;
        }
        head.clear();
    }
    InputSource source(in, std::move(head));
    std::unique_ptr<PictureReader> reader = kind == FileKind::Png   ? MakePngReader(source)
                                            : kind == FileKind::Ppm ? MakePpmReader(source)
                                                                    : MakeBmpReader(source);
    const ReadResult start = reader->Start(s.maxPixels);
    if (!start.ok()) {
        report.Error(shown, start.reason);
        return false;
    }
    const uint32_t width = reader->Width(), height = reader->Height();
    JobOutput out;
    std::string what;
    if (!out.Open(job, false, what, reason)) {
        report.Error(shown, "cannot write " + what + ": " + reason);
        return false;
    }
    const plix_encode_options options{s.rgb ? uint32_t{PLIX_MODE_RGB} : uint32_t{PLIX_MODE_YUV},
                                      static_cast<uint32_t>(s.quality),
                                      static_cast<uint32_t>(MatrixNumber(s.matrix)), s.threads};
    EncoderSink sink{&out, std::string()};
    plix_encoder *made = nullptr;
    int r = plix_encoder_new(width, height, &options, WriteToOutput, &sink, &made);
    std::unique_ptr<plix_encoder, void (*)(plix_encoder *)> encoder(made, plix_encoder_free);
    const uint32_t bandRows = EncodeBandRows(width, height, s.threads);
    const size_t stride = size_t(width) * 3;
    // On threads, the next rows are read (and a PNG's inflated) on a thread
    // of their own while these are coded: reading is otherwise the one part
    // on one thread.
    std::vector<uint8_t> rows, spare;
    if (r == PLIX_OK) {
        rows.resize(stride * bandRows);
        if (s.threads > 1 && height > bandRows) spare.resize(stride * bandRows);
    }
    const plix_format format = reader->GivesBgr() ? PLIX_BGR : PLIX_RGB;
    // n rows read and not yet coded.
    uint32_t n = std::min(bandRows, height);
    ReadResult read;
    if (r == PLIX_OK) read = reader->ReadRows(rows.data(), stride, n);
    for (uint32_t done = 0; r == PLIX_OK && read.ok() && done < height;) {
        const uint32_t m = std::min(bandRows, height - done - n);
        ReadResult next;
        std::thread reading;
        if (m > 0 && !spare.empty()) {
            try {
                reading = std::thread([&] { next = reader->ReadRows(spare.data(), stride, m); });
            } catch (const std::system_error &) {
                // Read after coding instead.
            }
        }
        r = plix_encoder_write_rows(encoder.get(), rows.data(), stride, format, n);
        done += n;
        if (reading.joinable()) {
            reading.join();
            rows.swap(spare);
        } else if (m > 0 && r == PLIX_OK) {
            next = reader->ReadRows(rows.data(), stride, m);
        }
        read = next;
        n = m;
    }
    if (!read.ok()) {
        report.Error(shown, read.reason);
        return false;
    }
    if (r == PLIX_OK) r = plix_encoder_finish(encoder.get());
    if (r == PLIX_ERROR_WRITE) {
        report.Error(shown, "cannot write " + what + ": " + sink.reason);
        return false;
    }
    if (r != PLIX_OK) {
        report.Error(shown, r == PLIX_ERROR_MEMORY
                                ? "not enough memory for " + std::to_string(width) + " x " +
                                      std::to_string(height) + " pixels"
                                : std::string("cannot encode: ") + plix_error_string(r));
        return false;
    }
    pixels = uint64_t(width) * uint64_t(height);
    return CommitOutput(s, job, out, what, report);
}

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

}  // namespace

std::string ShownName(const std::string &path) {
    return path == "-" ? "<stdin>" : path;
}

std::string ReplaceExtension(const std::string &path, const std::string &ext) {
    const size_t slash = path.rfind('/');
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    // A leading dot names a hidden file, not an extension.
    if (dot != std::string::npos && dot > start) return path.substr(0, dot) + ext;
    return path + ext;
}

bool PlanJobs(const Settings &s, std::vector<Job> &jobs, std::string &usageError,
              std::string &folderError) {
    jobs.clear();
    const bool decode = s.command == Command::Decode;
    size_t stdinCount = 0;
    for (const std::string &in : s.inputs) stdinCount += in == "-";
    if (stdinCount > 0 && s.inputs.size() > 1) {
        usageError = "standard input (-) can only be the sole input";
        return false;
    }
    if (s.output == "-" && s.inputs.size() > 1) {
        usageError = "standard output (-o -) takes the output of one input only";
        return false;
    }
    // -o names a folder for several inputs, or when it is one already.
    const bool toFolder = !s.output.empty() && s.output != "-" &&
                          (s.inputs.size() > 1 || s.output.back() == '/' ||
                           plat::KindOfPath(s.output) == plat::PathKind::Folder);
    if (toFolder && !plat::MakeFolders(s.output, folderError)) {
        folderError = "cannot create the folder " + s.output + ": " + folderError;
        return false;
    }

    OutFormat chosen = OutFormat::Plix;
    if (decode) {
        if (s.format == "bmp")
            chosen = OutFormat::Bmp;
        else if (s.format == "ppm")
            chosen = OutFormat::Ppm;
        else if (s.format == "png")
            chosen = OutFormat::Png;
        else if (!s.output.empty() && !toFolder && s.output != "-")
            chosen = FormatOfName(s.output);
        else
            chosen = OutFormat::Png;
    }
    std::map<std::string, std::string> claimed;  // output -> input that writes it
    for (const std::string &in : s.inputs) {
        Job job;
        job.input = in;
        job.format = chosen;
        if (!s.output.empty() && !toFolder) {
            job.output = s.output;
        } else if (in == "-") {
            job.output = toFolder ? s.output + "/stdin" + Extension(chosen) : "-";
        } else {
            const std::string name =
                ReplaceExtension(toFolder ? BaseName(in) : in, Extension(chosen));
            job.output =
                toFolder ? (s.output.back() == '/' ? s.output : s.output + "/") + name : name;
        }
        if (job.output != "-") {
            auto [it, fresh] = claimed.emplace(job.output, in);
            if (!fresh)
                job.error = job.output + " is also the output of " + it->second + "; skipped";
        }
        jobs.push_back(std::move(job));
    }
    return true;
}

void SplitCores(unsigned cores, size_t files, unsigned &jobs, unsigned &threads) {
    cores = std::max(cores, 1u);
    const unsigned most = static_cast<unsigned>(std::clamp<size_t>(files, 1, cores));
    if (jobs == 0 && threads == 0) {
        jobs = most;
        threads = std::max(1u, cores / jobs);
    } else if (jobs == 0) {
        jobs = std::clamp(cores / threads, 1u, most);
    } else if (threads == 0) {
        threads = std::max(1u, cores / std::min<unsigned>(jobs, most));
    }
}

bool RunJob(const Settings &s, const Job &job, const Reporter &report, uint64_t &pixels) {
    pixels = 0;
    const std::string shown = ShownName(job.input);
    if (!job.error.empty()) {
        report.Error(shown, job.error);
        return false;
    }
    if (job.output != "-") {
        const plat::PathKind kind = plat::KindOfPath(job.output);
        if (kind == plat::PathKind::Folder) {
            report.Error(shown, "cannot write " + job.output + ": is a folder");
            return false;
        }
        // Never written over, -f or not.
        if (job.input != "-" && plat::SameFile(job.input, job.output)) {
            report.Error(shown, "the output " + job.output + " is the input itself; skipped");
            return false;
        }
        if (kind == plat::PathKind::File && !s.force) {
            report.Error(shown, job.output + " exists (use -f to replace it); skipped");
            return false;
        }
    }
    plat::InputStream in;
    std::string reason;
    if (!in.Open(job.input, reason)) {
        report.Error(shown, (job.input == "-" ? "cannot read: " : "cannot open: ") + reason);
        return false;
    }
    try {
        return s.command == Command::Decode ? Decode(s, job, in, report, pixels)
                                            : Encode(s, job, in, report, pixels);
    } catch (const std::bad_alloc &) {
        report.Error(shown, "not enough memory");
        return false;
    }
}

bool RunInfo(const Settings &s, const Reporter &report) {
    bool allOk = true;
    std::string out = s.json ? "[" : "";
    bool first = true;
    for (const std::string &in : s.inputs) {
        const std::string shown = ShownName(in);
        std::string data, reason;
        plix_info info{};
        if (!plat::ReadAllBytes(in, data, reason)) {
            reason = (in == "-" ? "cannot read: " : "cannot open: ") + reason;
        } else {
            const ReadResult check = CheckPlix(data, info);
            if (!check.ok())
                reason = check.reason;
            else
                // Nothing is decoded, so no size is too large to describe.
                plix_scan(data.data(), data.size(), &info);
        }
        if (s.json) out += first ? "\n  " : ",\n  ";
        first = false;
        if (!reason.empty()) {
            report.Error(shown, reason);
            allOk = false;
            if (s.json)
                out += "{\"file\": " + JsonString(in) + ", \"error\": " + JsonString(reason) + "}";
            continue;
        }
        // The one header byte the library's facts leave out: how many bytes
        // stand between header and body (the check above saw 16 bytes).
        const uint8_t extra = static_cast<uint8_t>(data[7]);
        const uint64_t body =
            data.size() > kHeaderBytes + extra ? data.size() - kHeaderBytes - extra : 0;
        const uint64_t area = uint64_t(info.width) * uint64_t(info.height);
        char bpp[32] = "0";
        if (area > 0) std::snprintf(bpp, sizeof bpp, "%.4f", double(body) * 8.0 / double(area));
        const bool complete = info.blocks_present == info.blocks;
        const char *mode = info.mode == 0 ? "YUV" : "RGB";
        if (s.json) {
            out += "{\"file\": " + JsonString(in) + ", \"width\": " + std::to_string(info.width) +
                   ", \"height\": " + std::to_string(info.height) + ", \"mode\": \"" + mode +
                   "\", \"matrix\": \"" + MatrixName(static_cast<int>(info.matrix)) +
                   "\", \"qfactor\": " + std::to_string(info.qfactor) +
                   ", \"extra\": " + std::to_string(extra) +
                   ", \"body_bytes\": " + std::to_string(body) + ", \"bits_per_pixel\": " + bpp +
                   ", \"blocks\": " + std::to_string(info.blocks) +
                   ", \"whole_blocks\": " + std::to_string(info.blocks_present) +
                   ", \"complete\": " + (complete ? "true" : "false") + "}";
        } else {
            out +=
                shown + ": " + std::to_string(info.width) + " x " + std::to_string(info.height) +
                ", " + mode + ", matrix " + MatrixName(static_cast<int>(info.matrix)) +
                ", q-factor " + std::to_string(info.qfactor) + ", extra " + std::to_string(extra) +
                " bytes, body " + std::to_string(body) + " bytes, " + bpp + " bits per pixel, " +
                (complete ? "complete (" + std::to_string(info.blocks) + " blocks)"
                          : "incomplete: data ends after " + std::to_string(info.blocks_present) +
                                " of " + std::to_string(info.blocks) + " blocks") +
                "\n";
        }
        if (!complete) report.Warning(shown, Blocks(info));
    }
    if (s.json) out += first ? "]\n" : "\n]\n";
    std::string reason;
    if (!out.empty() && !plat::WriteStandardOutput(out.data(), out.size(), reason)) {
        report.Error("<stdout>", "cannot write: " + reason);
        return false;
    }
    return allOk;
}

}  // namespace plix::tool
