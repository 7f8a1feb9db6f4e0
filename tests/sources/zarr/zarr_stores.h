#pragma once
// The OME-Zarr stores the tests read, written by make_stores.py (zarr-python 2 and numcodecs for Zarr
// v2; numpy, numcodecs and zstandard for v3) into a directory, with the samples each level must read as.
#include <string>
#include <vector>

#include "zelvan_sources.hpp"

namespace zarr_test {

// Writes the stores into `directory` once a process; empty, or why not (for GTEST_SKIP).
std::string writeStores(const std::string& directory);
// The samples `expected/<name>-<level>.bin` holds.
std::vector<unsigned char> expectedSamples(const std::string& directory, const std::string& name, int level);
// Every sample of `level`, read in view tiles of 512 x 512 (and a 100 x 70 tile at the corner again).
// Empty, with lastError, when a read fails.
std::vector<unsigned char> readLevel(zelvan::sources::PictureSource& source, std::size_t level);

}  // namespace zarr_test
