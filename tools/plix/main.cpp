// plix: converts PLIX pictures to PNG, BMP or PPM and back, many files at
// once, and tells what a PLIX file holds.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/tool_files.h"
#include "tool.h"

namespace {

using namespace plix::tool;
using Clock = std::chrono::steady_clock;

std::string LibraryVersion() {
    PlixCodec *codec = PLIX_Constructor();
    if (!codec) return "unknown";
    const int32_t v = codec->ops->GetVersion(codec);
    PLIX_Destructor(codec);
    char text[32];
    std::snprintf(text, sizeof text, "%x.%02x", static_cast<unsigned>(v >> 8),
                  static_cast<unsigned>(v & 0xFF));
    return text;
}

// Standard error, shared by the workers and the progress line.
class Console {
public:
    explicit Console(bool progress) : progress_(progress) {}

    void Line(const std::string &text) {
        std::lock_guard<std::mutex> lock(mutex_);
        ClearProgress();
        std::fprintf(stderr, "%s\n", text.c_str());
        std::fflush(stderr);
    }
    void Progress(const std::string &text) {
        if (!progress_) return;
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(stderr, "\r%s\x1b[K", text.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void EndProgress() {
        std::lock_guard<std::mutex> lock(mutex_);
        ClearProgress();
    }

private:
    void ClearProgress() {
        if (!shown_) return;
        std::fputs("\r\x1b[K", stderr);
        shown_ = false;
    }
    std::mutex mutex_;
    bool progress_;
    bool shown_ = false;
};

std::string Clock2(double seconds) {
    const long s = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// Runs the jobs on s.jobs workers; false when any failed.
bool RunJobs(const Settings &s, const std::vector<Job> &jobs, Console &console,
             const Reporter &report) {
    const unsigned workers = static_cast<unsigned>(std::min<size_t>(s.jobs, jobs.size()));
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<uint64_t> pixels{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable finished;

    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < jobs.size();) {
            uint64_t n = 0;
            if (!RunJob(s, jobs[i], report, n)) failed = true;
            pixels += n;
            if (done.fetch_add(1) + 1 == jobs.size()) {
                std::lock_guard<std::mutex> lock(mutex);
                finished.notify_all();
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w) threads.emplace_back(work);

    // The main thread draws the progress line while the workers convert.
    const Clock::time_point start = Clock::now();
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished.wait_for(lock, std::chrono::milliseconds(100),
                              [&] { return done == jobs.size(); })) {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const size_t d = done;
        std::string line = std::to_string(d) + "/" + std::to_string(jobs.size()) + " files";
        char rate[48];
        std::snprintf(rate, sizeof rate, ", %.1f MP/s", double(pixels) / 1e6 / elapsed);
        line += rate;
        if (d > 0) line += ", " + Clock2(elapsed / double(d) * double(jobs.size() - d)) + " left";
        lock.unlock();
        console.Progress(line);
        lock.lock();
    }
    lock.unlock();
    for (std::thread &t : threads) t.join();
    console.EndProgress();
    return !failed;
}

}  // namespace

int main(int argc, char **argv) {
    plix::platform::IgnoreBrokenPipe();
    Settings s;
    const std::string version =
        "plix " PLIX_TOOL_VERSION " (PLIX library " + LibraryVersion() + ")";

    CLI::App app{"Converts PLIX pictures to and from PNG, BMP and PPM, many files at once.",
                 "plix"};
    app.set_version_flag("--version", version, "Show the tool's and the library's versions");
    app.require_subcommand(1);
    app.footer("Exit status: 0 when every file succeeded, 1 when any failed, 2 on a usage error.");

    auto addCommon = [&](CLI::App *cmd) {
        cmd->add_option("FILE", s.inputs, "Input files; - is standard input")->required();
        cmd->add_option(
            "-o,--output", s.output,
            "Output file for one input, output folder for several; - is standard output");
        cmd->add_flag("-f,--force", s.force, "Replace existing outputs");
        cmd->add_option("-j,--jobs", s.jobs,
                        "Files converted at once (default: cores / threads, at most the files)")
            ->check(CLI::Range(1u, 1024u));
        cmd->add_option("--threads", s.threads,
                        "Threads for each file (default: cores / files at once, so one file "
                        "gets every core)")
            ->check(CLI::Range(1u, 1024u));
        cmd->add_flag("--quiet", s.quiet, "No progress line");
        cmd->add_option("--max-pixels", s.maxPixels,
                        "Refuse pictures that declare more pixels (default 2^28)")
            ->check(CLI::Range(uint64_t{1}, uint64_t{1} << 40));
    };
    CLI::App *decode = app.add_subcommand("decode", "PLIX to PNG (default), BMP or PPM");
    addCommon(decode);
    decode
        ->add_option("--format", s.format,
                     "Output format: png, bmp or ppm (default: from -o's extension, else png)")
        ->check(CLI::IsMember({"png", "bmp", "ppm"}));
    decode
        ->add_option("--png-compression", s.pngCompression,
                     "PNG: 0 none, 1 fast (default), 2 to 9 smaller and slower (zlib's levels)")
        ->check(CLI::Range(0, 9));
    CLI::App *encode = app.add_subcommand("encode", "PNG, BMP (16/24/32 bits) or PPM to PLIX");
    addCommon(encode);
    encode->add_option("-q,--quality", s.quality, "Compression level, 0 (best, default) to 15")
        ->check(CLI::Range(0, 15));
    encode->add_option("--matrix", s.matrix, "Quantisation matrix set: plix (default), jpeg or cg")
        ->check(CLI::IsMember({"plix", "jpeg", "cg"}));
    encode->add_flag("--rgb", s.rgb, "Code red, green and blue instead of YUV");
    CLI::App *info =
        app.add_subcommand("info", "What a PLIX file holds, without decoding the picture");
    info->add_option("FILE", s.inputs, "PLIX files; - is standard input")->required();
    info->add_flag("--json", s.json, "Print the report as JSON");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success &e) {
        return app.exit(e);  // --help, --version
    } catch (const CLI::ParseError &e) {
        app.exit(e);
        return 2;
    }
    s.command = info->parsed()     ? Command::Info
                : encode->parsed() ? Command::Encode
                                   : Command::Decode;

    Console console(!s.quiet && plix::platform::StandardErrorIsTerminal());
    Reporter report{[&](const std::string &line) { console.Line(line); }};
    if (s.command == Command::Info) {
        size_t stdinCount = 0;
        for (const std::string &in : s.inputs) stdinCount += in == "-";
        if (stdinCount > 1) {
            std::fprintf(stderr, "plix: standard input (-) can be read only once\n");
            return 2;
        }
        return RunInfo(s, report) ? 0 : 1;
    }
    std::vector<Job> jobs;
    std::string usageError, folderError;
    if (!PlanJobs(s, jobs, usageError, folderError)) {
        if (!usageError.empty()) {
            std::fprintf(stderr, "plix: %s\nRun with --help for more information.\n",
                         usageError.c_str());
            return 2;
        }
        std::fprintf(stderr, "error: %s\n", folderError.c_str());
        return 1;
    }
    SplitCores(std::thread::hardware_concurrency(), jobs.size(), s.jobs, s.threads);
    return RunJobs(s, jobs, console, report) ? 0 : 1;
}
