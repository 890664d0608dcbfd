#include "conformance_cases.h"

#include <fstream>
#include <sstream>


namespace plix::test {

namespace {

std::vector<ConformanceCase> LoadCases() {
    std::vector<ConformanceCase> cases;
    std::ifstream in(ConformancePath("cases.tsv"));
    std::string line;
    std::vector<std::string> names;
    while (std::getline(in, line)) {
        std::vector<std::string> cells;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '\t')) cells.push_back(cell);
        if (!line.empty() && line[0] == '#') {
            cells[0] = cells[0].substr(1);
            names = cells;
            continue;
        }
        ConformanceCase c;
        for (size_t i = 0; i < names.size(); ++i) c.f[names[i]] = i < cells.size() ? cells[i] : "";
        cases.push_back(c);
    }
    return cases;
}

}  // namespace

const std::vector<ConformanceCase> &ConformanceCases() {
    static const std::vector<ConformanceCase> cases = LoadCases();
    return cases;
}

std::string ConformancePath(const std::string &rel) {
    return std::string(PLIX_TEST_DATA) + "/conformance/" + rel;
}

std::vector<size_t> ConformanceIndices(bool encodeOnly) {
    std::vector<size_t> idx;
    for (size_t i = 0; i < ConformanceCases().size(); ++i)
        if (!encodeOnly || ConformanceCases()[i].IsEncode()) idx.push_back(i);
    return idx;
}

std::string ConformanceCaseName(const ::testing::TestParamInfo<size_t> &info) {
    return ConformanceCases()[info.param]["name"];
}

}  // namespace plix::test
