// Small songs from the test XM builder, each leaning on one feature or one
// hostile value: the fuzzers' seeds, and cases the hardening tests play.
#pragma once

#include "tests/support/xm_builder.h"  // and std::string, std::vector

namespace seeds {

struct SeedSong {
    std::string name;  // file name stem: letters, digits and '-'
    xm::SongSpec song;
};

std::vector<SeedSong> SeedSongs();

}  // namespace seeds
