// Realistic synthetic transfers: a 7.5-minute quadrangle in UTM with 30 m
// spacing, seeded terrain, fill cells outside the slanted quadrangle
// boundary and a few interior voids.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "samplegen/transfer.h"

namespace veloran::testing {

// "base": BI16 metres, text SADR; "float": BFP32 metres with fractional
// elevations; "feet": BI16 feet; "binsadr": binary SADR with scale factors
// 0.01; "repeat": an "R" first cell record and leaderless rows; "lower":
// lower-case file names; "small": a 40 x 30 cell corner of the base; a
// number N: an N x N grid without collar.
const std::vector<std::string>& SampleVariants();
TTransferSpec MakeSample(const std::string& variant, uint64_t seed = 1994);

}  // namespace veloran::testing
