// plix: converts whole folders of PLIX pictures to and from PNG, BMP and PPM.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "plix/plix.h"

namespace plix::tool {

enum class Command { Decode, Encode, Info };
enum class OutFormat { Png, Bmp, Ppm, Plix };

inline constexpr uint64_t kDefaultMaxPixels = uint64_t{1} << 28;

struct Settings {
    Command command = Command::Decode;
    std::vector<std::string> inputs;
    std::string output;  // empty: beside each input
    std::string format;  // decode: png, bmp, ppm or empty
    int quality = 0;
    std::string matrix = "plix";
    bool rgb = false;
    bool force = false;
    unsigned jobs = 0;     // files at once; 0: chosen with threads (see SplitCores)
    unsigned threads = 0;  // threads for each file; 0: chosen with jobs
    int pngCompression = 1;
    bool quiet = false;
    uint64_t maxPixels = kDefaultMaxPixels;
    bool json = false;
};

struct Job {
    std::string input;   // "-" for standard input
    std::string output;  // "-" for standard output
    OutFormat format = OutFormat::Png;
    std::string error;  // set when the job is refused before it starts
};

// Messages go through here: workers report from several threads.
struct Reporter {
    std::function<void(const std::string &)> line;  // one line, without its end
    void Error(const std::string &file, const std::string &what) const {
        line("error: " + file + ": " + what);
    }
    void Warning(const std::string &file, const std::string &what) const {
        line("warning: " + file + ": " + what);
    }
};

// The name a file is shown under in messages.
std::string ShownName(const std::string &path);

// path with its extension replaced by ext (which starts with a dot), or ext
// appended when it has none.
std::string ReplaceExtension(const std::string &path, const std::string &ext);

// Plans the outputs. False with a message in usageError for a command line
// that cannot work; folderError is set when the output folder cannot be made.
bool PlanJobs(const Settings &s, std::vector<Job> &jobs, std::string &usageError,
              std::string &folderError);

// Shares the cores between files at once and threads for each file: what
// the command line leaves at 0 is chosen so that jobs x threads stays within
// cores (one file: every core on it; many: one file per core).
void SplitCores(unsigned cores, size_t files, unsigned &jobs, unsigned &threads);

// Converts one file, streamed: a band of rows at a time from input to output.
// pixels is set to the picture's pixel count. True on success (warnings
// included).
bool RunJob(const Settings &s, const Job &job, const Reporter &report, uint64_t &pixels);

// Prints what each PLIX file holds to standard output; false when any file
// could not be read.
bool RunInfo(const Settings &s, const Reporter &report);

}  // namespace plix::tool
