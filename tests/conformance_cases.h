// The shared conformance vectors as the tests see them: one row of
// data/conformance/cases.tsv per case.
#pragma once

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace plix::test {

struct ConformanceCase {
    std::map<std::string, std::string> f;
    const std::string &operator[](const std::string &k) const { return f.at(k); }
    int Int(const std::string &k) const { return std::stoi(f.at(k)); }
    bool IsEncode() const { return f.at("kind") == "encode"; }
};

const std::vector<ConformanceCase> &ConformanceCases();

// Path of a file named in the table (relative to the vectors' folder).
std::string ConformancePath(const std::string &rel);

// Indices of every case, or of the encode cases, for parameterised suites.
std::vector<size_t> ConformanceIndices(bool encodeOnly);
std::string ConformanceCaseName(const ::testing::TestParamInfo<size_t> &info);

}  // namespace plix::test
