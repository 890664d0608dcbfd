#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <string_view>

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

// Hands a finished output to its place, or to standard output.
bool Deliver(const Settings &s, const Job &job, plat::PendingFile *pending,
             const std::string *bytes, const Reporter &report) {
    std::string reason;
    const std::string shown = ShownName(job.input);
    // Standard output, and devices and pipes such as /dev/null, take the
    // bytes as they are: there is no file to replace.
    const bool special = job.output != "-" && plat::KindOfPath(job.output) == plat::PathKind::Other;
    if (job.output == "-" || special) {
        const std::string where = special ? job.output : "standard output";
        std::string data;
        if (!bytes) {
            if (!pending->ReadBack(data, reason)) {
                report.Error(shown, "cannot write " + where + ": " + reason);
                return false;
            }
            bytes = &data;
        }
        const bool ok =
            special ? plat::WriteIntoSpecialFile(job.output, bytes->data(), bytes->size(), reason)
                    : plat::WriteStandardOutput(bytes->data(), bytes->size(), reason);
        if (!ok) report.Error(shown, "cannot write " + where + ": " + reason);
        return ok;
    }
    plat::PendingFile own;
    if (!pending) {
        pending = &own;
        if (!own.Create(job.output, reason) || !own.Write(bytes->data(), bytes->size(), reason)) {
            report.Error(shown, "cannot write " + job.output + ": " + reason);
            return false;
        }
    }
    bool exists = false;
    if (!pending->Commit(s.force, exists, reason)) {
        if (exists)
            report.Error(shown, job.output + " exists (use -f to replace it); skipped");
        else
            report.Error(shown, "cannot write " + job.output + ": " + reason);
        return false;
    }
    return true;
}

// Rows go from the decoder to the picture writer a few strips at a time.
bool Decode(const Settings &s, const Job &job, const std::string &data, const Reporter &report,
            uint64_t &pixels) {
    const std::string shown = ShownName(job.input);
    plix_info info{};
    const ReadResult check = CheckPlix(data, info);
    if (!check.ok()) {
        report.Error(shown, check.reason);
        return false;
    }
    const FileKind kind = job.format == OutFormat::Png   ? FileKind::Png
                          : job.format == OutFormat::Bmp ? FileKind::Bmp
                                                         : FileKind::Ppm;
    std::unique_ptr<PictureWriter> writer = MakePictureWriter(kind);
    const plix_decode_options options{s.maxPixels, 1};
    std::unique_ptr<plix_decoder, void (*)(plix_decoder *)> decoder(plix_decoder_new(&options),
                                                                    plix_decoder_free);
    int r =
        decoder ? plix_decoder_push(decoder.get(), data.data(), data.size()) : PLIX_ERROR_MEMORY;
    if (r == PLIX_OK) r = plix_decoder_finish(decoder.get());
    const std::string size = std::to_string(info.width) + " x " + std::to_string(info.height);
    std::string out, reason;
    if (r == PLIX_OK)
        reason =
            writer->Begin(static_cast<int32_t>(info.width), static_cast<int32_t>(info.height), out);
    constexpr uint32_t kRowsAtOnce = 32;
    std::vector<uint8_t> rows;
    if (r == PLIX_OK && reason.empty()) rows.resize(size_t(info.width) * 3 * kRowsAtOnce);
    const plix_format format = writer->WantsBgr() ? PLIX_BGR : PLIX_RGB;
    uint32_t got = 0;
    while (r >= 0 && reason.empty()) {
        r = plix_decoder_read_rows(decoder.get(), format, rows.data(), size_t(info.width) * 3,
                                   kRowsAtOnce, &got);
        if (r < 0 || got == 0) break;
        reason = writer->AddRows(rows.data(), size_t(info.width) * 3, got);
    }
    if (r == PLIX_ERROR_LIMIT) {
        report.Error(shown, TooLargeReason(info.width, info.height, s.maxPixels));
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
    return Deliver(s, job, nullptr, &out, report);
}

bool Encode(const Settings &s, const Job &job, const std::string &data, PlixCodec *codec,
            const Reporter &report, uint64_t &pixels) {
    const std::string shown = ShownName(job.input);
    const FileKind kind = DetectKind(data);
    const int mode = s.rgb ? PLIX_MODE_RGB : PLIX_MODE_YUV;
    const int matrix = MatrixNumber(s.matrix);
    std::string reason;
    plat::PendingFile pending;
    const bool special = job.output == "-" || plat::KindOfPath(job.output) == plat::PathKind::Other;
    const std::string target = special ? std::string() : job.output;
    auto createPending = [&] {
        if (pending.Create(target, reason)) return true;
        report.Error(shown, "cannot write " +
                                (target.empty() ? std::string("a temporary file") : target) + ": " +
                                reason);
        return false;
    };

    if (kind == FileKind::Bmp) {
        const ReadResult check = CheckBmp(data, s.maxPixels);
        if (!check.ok()) {
            report.Error(shown, check.reason);
            return false;
        }
        // The codec imports the BMP from a file; what was read from a pipe
        // goes to one first.
        plat::PendingFile copy;
        std::string source = job.input;
        if (job.input == "-" || plat::KindOfPath(job.input) != plat::PathKind::File) {
            if (!copy.Create("", reason) || !copy.Write(data.data(), data.size(), reason)) {
                report.Error(shown, "cannot write a temporary file: " + reason);
                return false;
            }
            source = copy.TempPath();
        }
        if (!createPending()) return false;
        if (!codec->ops->EncodeBitmapFile(codec, source.c_str(), pending.TempPath().c_str(), mode,
                                          s.quality, matrix)) {
            // Left after the checks: unusable bit-field masks, a picture
            // larger than the codec holds, or a file changed while read.
            report.Error(shown, "damaged or unsupported BMP: the import refused it");
            return false;
        }
        // Sizes the check found valid; a negative height marks top-down rows.
        const auto *p = reinterpret_cast<const uint8_t *>(data.data());
        const auto w =
            static_cast<int32_t>(p[18] | p[19] << 8 | p[20] << 16 | uint32_t(p[21]) << 24);
        const auto h =
            static_cast<int32_t>(p[22] | p[23] << 8 | p[24] << 16 | uint32_t(p[25]) << 24);
        pixels = uint64_t(w) * uint64_t(h < 0 ? -int64_t{h} : h);
    } else if (kind == FileKind::Png || kind == FileKind::Ppm) {
        RgbPicture pic;
        const ReadResult read = kind == FileKind::Png ? ReadPng(data, s.maxPixels, pic)
                                                      : ReadPpm(data, s.maxPixels, pic);
        if (!read.ok()) {
            report.Error(shown, read.reason);
            return false;
        }
        const plix_encode_options options{static_cast<uint32_t>(mode),
                                          static_cast<uint32_t>(s.quality),
                                          static_cast<uint32_t>(matrix), 1};
        void *encoded = nullptr;
        size_t size = 0;
        const int r = plix_encode(pic.rgb.data(), static_cast<uint32_t>(pic.width),
                                  static_cast<uint32_t>(pic.height), size_t(pic.width) * 3,
                                  PLIX_RGB, &options, &encoded, &size);
        if (r != PLIX_OK) {
            report.Error(shown, r == PLIX_ERROR_MEMORY
                                    ? "not enough memory for " + std::to_string(pic.width) + " x " +
                                          std::to_string(pic.height) + " pixels"
                                    : std::string("cannot encode: ") + plix_error_string(r));
            return false;
        }
        std::string bytes;
        try {
            bytes.assign(static_cast<const char *>(encoded), size);
        } catch (const std::bad_alloc &) {
            plix_free(encoded);
            throw;
        }
        plix_free(encoded);
        pixels = uint64_t(pic.width) * uint64_t(pic.height);
        return Deliver(s, job, nullptr, &bytes, report);
    } else {
        report.Error(shown, kind == FileKind::Plix ? "is a PLIX file already"
                                                   : "not a PNG, BMP or PPM file");
        return false;
    }
    // The codec reports no write errors of its own; a complete file has at
    // least its header.
    if (pending.Size() < static_cast<int64_t>(kHeaderBytes)) {
        report.Error(shown, "cannot write " +
                                (job.output == "-" ? std::string("standard output") : job.output) +
                                ": the encoder could not write its file");
        return false;
    }
    return Deliver(s, job, &pending, nullptr, report);
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

bool RunJob(const Settings &s, const Job &job, PlixCodec *codec, const Reporter &report,
            uint64_t &pixels) {
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
    std::string data, reason;
    if (!plat::ReadAllBytes(job.input, data, reason)) {
        report.Error(shown, (job.input == "-" ? "cannot read: " : "cannot open: ") + reason);
        return false;
    }
    try {
        return s.command == Command::Decode ? Decode(s, job, data, report, pixels)
                                            : Encode(s, job, data, codec, report, pixels);
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
